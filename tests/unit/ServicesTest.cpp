// What a filter name says about its service.
#include "services/Services.h"
#include "support/ServicesByName.h"
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

constexpr std::u16string_view kServices = u"SYSTEM\\CurrentControlSet\\Services";

std::u16string ServiceKey(std::u16string_view name) {
  return std::u16string(kServices) + u"\\" + std::u16string(name);
}

TEST(ServiceExists, FindsASubkeyByItsNameWithOnlyAToZFolded) {
  struct Case {
    const char* what;
    std::u16string asked;
    int result;
  };
  const Case cases[] = {
      {"same spelling", u"cdflt", 1},
      {"other case of A to Z", u"CDFLT", 1},
      {"mixed case stored", u"mixedcase", 1},
      {"Latin-1 letter folded", u"\u00c9tude", 0},
      {"Latin-1 letter as stored", u"\u00e9tude", 1},
      {"a prefix of a name", u"cdfl", 0},
      {"longer than a name", u"cdflt2x", 0},
      {"empty", u"", 0},
      {"a path below a service", u"cdflt\\Parameters", 0},
      {"longer than any key name", std::u16string(256, u'l'), 0},
      {"after a long name in order", u"zzz", 1},
  };
  MemoryPlatform machine;
  for (const auto name : {u"cdflt", u"MixedCase", u"\u00e9tude", u"zzz"}) {
    machine.PutKey(ServiceKey(name));
  }
  machine.PutKey(ServiceKey(u"cdflt\\Parameters"));
  // Longer than any name Windows allows: it must not end the walk.
  machine.PutKey(ServiceKey(std::u16string(300, u'l')));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ServiceExists(machine, c.asked), c.result);
  }
  MemoryPlatform no_services;
  EXPECT_EQ(ServiceExists(no_services, u"cdflt"), 0);
}

TEST(IsServiceEnabled, OnlyAWholeStartTypeUpToOnDemandStarts) {
  struct Case {
    const char* what;
    std::optional<std::string> start;  // bytes of "Start"; nullopt: none
    int result;
  };
  const auto number = [](std::uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
  };
  const Case cases[] = {
      {"boot", number(0), 1},
      {"system", number(1), 1},
      {"automatic", number(2), 1},
      {"on demand, as Plug and Play filters are", number(3), 1},
      {"disabled", number(4), 0},
      {"unknown start type", number(5), 0},
      {"all bits set", number(0xFFFFFFFF), 0},
      {"missing", std::nullopt, 0},
      {"empty", std::string(), 0},
      {"two bytes", std::string("\1\0", 2), 0},
      {"eight bytes", number(1) + number(0), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryPlatform machine;
    machine.PutKey(ServiceKey(u"flt"));
    if (c.start) {
      machine.PutValue(ServiceKey(u"flt"), u"Start", win::kRegDword, *c.start);
    }
    EXPECT_EQ(IsServiceEnabled(machine, u"flt", u"Start"), c.result);
  }
}

TEST(IsServiceEnabled, KeyThatCannotBeOpenedIsNoEvidence) {
  MemoryPlatform machine;
  machine.PutDword(ServiceKey(u"guarded"), u"Start", 4);
  machine.DenyAccess(ServiceKey(u"guarded"), win::kKeyQueryValue);
  EXPECT_EQ(IsServiceEnabled(machine, u"guarded", u"Start"), kCannotTell);
  // A start type whose query fails, and reports no size, says nothing.
  machine.PutDword(ServiceKey(u"flt"), u"Start", 4);
  for (const Status error : {1450u, win::kMoreData, win::kAccessDenied}) {
    machine.FailOperation(machine.operations() + 1, error);  // after the open
    EXPECT_EQ(IsServiceEnabled(machine, u"flt", u"Start"), kCannotTell) << error;
  }
}

// Only the registry saying "not found" means there is no such service. A
// lookup that cannot be made is no evidence: the name is not judged. (A
// Services key that refuses listing, and a service key that refuses
// reading, are pinned on both backends by the service lookup contract.)
TEST(ServiceExists, IsNotFoundOnlyWhenTheRegistrySaysSo) {
  struct Case {
    const char* what;
    Status open_fails;  // opening the service's key fails with this
    bool unlisted;      // the Services key refuses listing its subkeys
    int result;
  };
  const Case cases[] = {
      {"out of resources: listing answers", 1450, false, 1},
      {"out of resources, no listing: cannot tell", 1450, true, kCannotTell},
      {"a key deleted meanwhile, no listing: cannot tell", 1018, true, kCannotTell},
      {"not found is not found, listing or not", win::kFileNotFound, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryPlatform machine;
    machine.PutDword(ServiceKey(u"flt"), u"Start", 1);
    if (c.unlisted) machine.DenyAccess(kServices, win::kKeyEnumerateSubKeys);
    // The lookup's first call opens the service's key.
    machine.FailOperation(machine.operations(), c.open_fails);
    EXPECT_EQ(ServiceExists(machine, u"flt"), c.result);
  }
}

TEST(ReadServiceValue, ReadsTheTextOrSaysWhyItCouldNot) {
  struct Case {
    const char* what;
    std::uint32_t type;
    std::optional<std::u16string> units;  // nullopt: no value
    int result;
    std::u16string out;  // "(untouched)" when not read
  };
  const std::u16string longest(259, u'p');
  const Case cases[] = {
      {"a path", win::kRegExpandSz, std::u16string(u"x\\flt.sys\0", 10), 1,
       u"x\\flt.sys"},
      {"missing", win::kRegSz, std::nullopt, 1, u""},
      {"259 units and the NUL", win::kRegExpandSz, longest + u'\0', 1,
       longest},
      {"260 units and the NUL do not fit", win::kRegExpandSz,
       std::u16string(260, u'q') + u'\0', kValueNotReadWhole, u"(untouched)"},
      {"260 units without a NUL fit", win::kRegBinary,
       std::u16string(260, u'r'), 1, std::u16string(260, u'r')},
      {"the text ends at its first NUL", win::kRegMultiSz,
       std::u16string(u"a.sys\0b.sys\0\0", 13), 1, u"a.sys"},
      {"another type is read as text", win::kRegDword,
       std::u16string(u"ab", 2), 1, u"ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryPlatform machine;
    machine.PutKey(ServiceKey(u"flt"));
    if (c.units) {
      machine.PutValue(ServiceKey(u"flt"), u"ImagePath", c.type,
                       std::string(reinterpret_cast<const char*>(c.units->data()),
                                   c.units->size() * 2));
    }
    std::u16string out = u"(untouched)";
    EXPECT_EQ(ReadServiceValue(machine, u"flt", u"ImagePath", &out), c.result);
    EXPECT_EQ(out, c.out);
  }
  // An odd byte count: the half unit is no unit.
  MemoryPlatform machine;
  machine.PutValue(ServiceKey(u"flt"), u"ImagePath", win::kRegSz,
                   std::string("a\0b", 3));
  std::u16string out;
  EXPECT_EQ(ReadServiceValue(machine, u"flt", u"ImagePath", &out), 1);
  EXPECT_EQ(out, u"a");
  // No key: nothing read, nothing touched.
  out = u"(untouched)";
  EXPECT_EQ(ReadServiceValue(machine, u"gone", u"ImagePath", &out), 0);
  EXPECT_EQ(out, u"(untouched)");
}

}  // namespace
}  // namespace tarvox::testing
