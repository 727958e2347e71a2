// Process services: the message catalogue, the mutex, the environment.
#include "contract/ContractHost.h"
#include "resources/Catalogue.h"

namespace tarvox::contract {
namespace {

TEST_F(Contract, CatalogueHoldsEveryMessageWordForWord) {
  // Spelled out here, not taken from the catalogue header, so a slip there
  // shows too.
  const std::pair<std::uint32_t, std::u16string_view> messages[] = {
      {201, u"Not supported platform"},
      {202,
       u"There was some errors in the registry. The Tarvox corrected this.\n"
       u"       System must be rebooted for changes to become effective."},
      {203, u"Not enough rights. Must login as administrator"},
      {206, u"Could not open key :"},
      {207, u"Error on try to redirect cout to file"},
      {208, u"could not be converted, cause :"},
      {211, u"No ImagePath and driver file into default image path not found "
            u"for:  "},
      {212, u"Driver file has not been found:  "},
      {213, u"  converted from *.bak to *.sys file."},
      {214, u"Backup driver file has not been found:  "},
  };
  for (const auto& [id, text] : messages) {
    EXPECT_EQ(os_.LoadMessage(id), text) << "message " << id;
  }
  EXPECT_EQ(os_.LoadMessage(204), u"");
}

TEST_F(Contract, NamedMutexReportsThatItExistsOnTheSecondCreate) {
  const std::u16string name = u"TarvoxContractMutex";
  EXPECT_EQ(os_.CreateNamedMutex(name), win::kSuccess);
  EXPECT_EQ(os_.CreateNamedMutex(name), win::kAlreadyExists);
  EXPECT_EQ(os_.CreateNamedMutex(u"TarvoxContractOtherMutex"), win::kSuccess);
}

// Another user's run holds the guard: this process is refused it, which
// is not the same as making it, and finds it all the same.
TEST_F(Contract, NamedMutexRefusedToThisProcessIsNotMadeButFound) {
  const std::u16string name = u"Global\\TarvoxContractRefusedMutex";
  host_->HoldRefusedMutex(name);
  EXPECT_EQ(os_.CreateNamedMutex(name), win::kAccessDenied);
  EXPECT_EQ(os_.FindNamedMutex(name), win::kSuccess);
}

// The check looks for a repair under way without making the mutex, which
// would keep a repair from starting.
TEST_F(Contract, NamedMutexIsFoundWithoutBeingMade) {
  const std::u16string name = u"TarvoxContractFoundMutex";
  EXPECT_EQ(os_.FindNamedMutex(name), win::kFileNotFound);
  EXPECT_EQ(os_.FindNamedMutex(name), win::kFileNotFound);
  EXPECT_EQ(os_.CreateNamedMutex(name), win::kSuccess);
  EXPECT_EQ(os_.FindNamedMutex(name), win::kSuccess);
}

// The tests run as administrator, as Wine's user is and the in-memory
// machine is unless told otherwise.
TEST_F(Contract, TestsRunWithAdministratorRights) { EXPECT_TRUE(os_.IsAdministrator()); }

TEST_F(Contract, EnvironmentGivesTheWindowsFolderAndNothingForUnsetNames) {
  const auto root = os_.ReadEnvironment(u"SystemRoot");
  ASSERT_TRUE(root.has_value());
  EXPECT_FALSE(root->empty());
  EXPECT_NE(root->back(), u'\\');
  EXPECT_EQ(os_.ReadEnvironment(u"systemroot"), root);
  EXPECT_EQ(os_.ReadEnvironment(u"TARVOX_SURELY_UNSET"), std::nullopt);
}

TEST_F(Contract, WindowsVersionIsAtLeastFive) {
  EXPECT_GE(os_.OsVersion().major, 5u);
}

}  // namespace
}  // namespace tarvox::contract
