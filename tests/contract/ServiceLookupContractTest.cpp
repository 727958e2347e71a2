// Looking a service up by name gives what walking every service gives, on
// both backends: the registry's own name comparison, and the names it
// stores, are what the lookup relies on.
#include <array>

#include "contract/ContractHost.h"
#include "multisz/Names.h"
#include "platform/RegKey.h"
#include "services/Services.h"
#include "support/ServicesByName.h"

namespace tarvox::contract {
namespace {

// The walk over every subkey of the Services key, as the answer to match.
int ExistsByWalk(Platform& os, std::u16string_view name) {
  RegKey services(os);
  if (services.Open(kServicesRoot, win::kKeyEnumerateSubKeys) != win::kSuccess) {
    return 0;
  }
  for (std::uint32_t index = 0;; ++index) {
    std::array<char16_t, 260> found{};
    std::uint32_t length = found.size();
    const Status status = services.EnumKey(index, found.data(), &length);
    if (status == win::kMoreData) continue;
    if (status != win::kSuccess) return 0;
    if (SameName(std::u16string_view(found.data(), length), name)) return 1;
  }
}

class ServiceLookupContract : public Contract {
 protected:
  void AddService(std::u16string_view name) {
    RegKey key(os_);
    ASSERT_EQ(key.Create(std::u16string(kServicesRoot) + std::u16string(name),
                         win::kKeyQueryValue),
              win::kSuccess);
  }
};

TEST_F(ServiceLookupContract, NameLookupAnswersAsTheWalk) {
  const std::u16string longest = u"tvL" + std::u16string(252, u'l');  // 255
  for (const std::u16string& name :
       {std::u16string(u"TvFlt"), std::u16string(u"tv\u00e9t\u00e9"),
        std::u16string(u"tv\u03a3"), std::u16string(u"TvNest\\Sub"), longest}) {
    AddService(name);
  }
  struct Case {
    std::u16string asked;
    int exists;
  };
  const Case cases[] = {
      {u"TvFlt", 1},
      {u"tvflt", 1},
      {u"TVFLT", 1},
      {u"tv\u00e9t\u00e9", 1},
      {u"TV\u00e9T\u00e9", 1},
      {u"tv\u00c9t\u00e9", 0},  // the registry folds it; the tool does not
      {u"tv\u03a3", 1},
      {u"tv\u03c3", 0},
      {u"TvNest", 1},
      {u"TvNest\\Sub", 0},  // a key below a service is no service
      {u"TvNest\\", 0},
      {u"\\TvFlt", 0},
      {u"TvFlt\\\\", 0},
      {u"", 0},
      {longest, 1},
      {u"TVL" + std::u16string(252, u'L'), 1},
      {longest + u"l", 0},
      {u"tvL" + std::u16string(297, u'l'), 0},
      {u"TvMissing", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.asked.begin(), c.asked.end()));
    EXPECT_EQ(ServiceExists(os_, c.asked), c.exists);
    EXPECT_EQ(ExistsByWalk(os_, c.asked), c.exists);
  }
}

TEST_F(ServiceLookupContract, KeyThatRefusesOpeningIsStillFound) {
  AddService(u"TvGuarded");
  host_->DenyKeyAccess(std::u16string(kServicesRoot) + u"TvGuarded",
                       win::kKeyQueryValue);
  EXPECT_EQ(ServiceExists(os_, u"tvguarded"), 1);
  EXPECT_EQ(ServiceExists(os_, u"TvGuarde"), 0);
}

// Listing the Services key is refused; each service's key still opens by its
// path, so no service goes missing. Only a key that refuses reading as well
// leaves the question open.
TEST_F(ServiceLookupContract, ServicesKeyThatCannotBeListedHidesNoService) {
  AddService(u"TvFlt");
  AddService(u"TvGuarded");
  host_->DenyKeyAccess(std::u16string(kServicesRoot) + u"TvGuarded",
                       win::kKeyQueryValue);
  host_->DenyKeyAccess(u"SYSTEM\\CurrentControlSet\\Services",
                       win::kKeyEnumerateSubKeys);
  EXPECT_EQ(ExistsByWalk(os_, u"TvFlt"), 0);  // the walk cannot see it
  EXPECT_EQ(ServiceExists(os_, u"TvFlt"), 1);
  EXPECT_EQ(ServiceExists(os_, u"tvflt"), 1);
  EXPECT_EQ(ServiceExists(os_, u"TvMissing"), 0);
  EXPECT_EQ(ServiceExists(os_, u"TvGuarded"), kCannotTell);
}

TEST_F(ServiceLookupContract, OpenedKeyTellsItsStoredName) {
  AddService(u"TvMiXeD");
  RegKey key(os_);
  ASSERT_EQ(key.Open(std::u16string(kServicesRoot) + u"tvmixed", win::kKeyQueryValue),
            win::kSuccess);
  std::u16string name;
  ASSERT_EQ(key.Name(&name), win::kSuccess);
  EXPECT_EQ(name, u"TvMiXeD");
}

}  // namespace
}  // namespace tarvox::contract
