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

// A create that finds the mutex says whether it is this process's own,
// by the object: made before under the same name, or (in session 0, where
// the plain and "Local\" names reach the global namespace) under another.
TEST_F(Contract, NamedMutexFoundAgainTellsWhetherItIsThisProcesssOwn) {
  const auto create = [&](std::u16string_view name, bool expected_own) {
    bool own = !expected_own;
    const Status status = os_.CreateNamedMutex(name, &own);
    EXPECT_EQ(own, expected_own) << std::string(name.begin(), name.end());
    return status;
  };
  EXPECT_EQ(create(u"TarvoxContractMutex", false), win::kSuccess);
  EXPECT_EQ(create(u"TarvoxContractMutex", true), win::kAlreadyExists);
  // In a user's session the global name is another object.
  EXPECT_EQ(create(u"Global\\TarvoxContractMutex", false), win::kSuccess);
  host_->HoldMutex(u"TarvoxContractHeldMutex");
  EXPECT_EQ(create(u"TarvoxContractHeldMutex", false), win::kAlreadyExists);

  host_->EnterSessionZero(u"TarvoxContractSessionMutex");
  EXPECT_EQ(create(u"Global\\TarvoxContractSessionMutex", false), win::kSuccess);
  EXPECT_EQ(create(u"TarvoxContractSessionMutex", true), win::kAlreadyExists);
  EXPECT_EQ(create(u"Local\\TarvoxContractSessionMutex", true), win::kAlreadyExists);
  host_->EnterSessionZero(u"TarvoxContractSessionHeldMutex");
  host_->HoldMutex(u"Global\\TarvoxContractSessionHeldMutex");
  EXPECT_EQ(create(u"TarvoxContractSessionHeldMutex", false), win::kAlreadyExists);
}

// Another user's run holds the guard: this process is refused it, which
// is not the same as making it, and finds it all the same.
TEST_F(Contract, NamedMutexRefusedToThisProcessIsNotMadeButFound) {
  const std::u16string name = u"Global\\TarvoxContractRefusedMutex";
  host_->HoldRefusedMutex(name);
  bool own = true;
  EXPECT_EQ(os_.CreateNamedMutex(name, &own), win::kAccessDenied);
  EXPECT_FALSE(own);
  EXPECT_EQ(os_.FindNamedMutex(name), win::kSuccess);
}

// The check looks for a repair under way without making the mutex, which
// would keep a repair from starting.
TEST_F(Contract, NamedMutexIsFoundWithoutBeingMade) {
  const std::u16string name = u"TarvoxContractFoundMutex";
  EXPECT_EQ(os_.FindNamedMutex(name), win::kFileNotFound);
  EXPECT_EQ(os_.FindNamedMutex(name), win::kFileNotFound);
  bool own = false;
  EXPECT_EQ(os_.CreateNamedMutex(name, &own), win::kSuccess);
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
