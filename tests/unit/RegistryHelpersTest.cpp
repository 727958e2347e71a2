// Reading and writing multi-string values through the registry helpers.
#include <gtest/gtest.h>

#include <array>

#include "multisz/MultiSz.h"
#include "support/memory/MemoryPlatform.h"
#include "platform/RunState.h"

namespace tarvox {
namespace {

constexpr std::u16string_view kKey = u"SYSTEM\\Test";

class RegistryHelpers : public ::testing::Test {
 protected:
  RegistryHelpers() {
    g_changesMade = 0;
    machine_.PutKey(kKey);
    EXPECT_EQ(key_.Open(kKey, win::kKeyQueryValue | win::kKeySetValue),
              win::kSuccess);
  }
  ~RegistryHelpers() override { g_changesMade = 0; }

  MemoryPlatform machine_;
  RegKey key_{machine_};
};

TEST_F(RegistryHelpers, ZeroFillClearsStaleBytesBehindAMultiStringOnly) {
  machine_.PutMultiSz(kKey, u"Short", {u"a"});                 // 6 bytes
  machine_.PutValue(kKey, u"Text", win::kRegSz, std::string("b\0\0\0", 4));
  MultiSz buffer;
  std::fill_n(buffer.units.begin(), MultiSz::kUnits, u'z');  // a longer list

  std::uint32_t type = 0;
  std::uint32_t size = MultiSz::kBytes;
  EXPECT_EQ(QueryValueZeroFill(key_, u"Short", &type, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(MultiSzEntries(buffer), std::vector<std::u16string>{u"a"});
  EXPECT_TRUE(std::all_of(buffer.units.begin() + 3, buffer.units.end(),
                          [](char16_t unit) { return unit == 0; }));

  std::fill_n(buffer.units.begin(), MultiSz::kUnits, u'z');
  size = MultiSz::kBytes;
  EXPECT_EQ(QueryValueZeroFill(key_, u"Text", &type, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(type, win::kRegSz);
  EXPECT_EQ(buffer.units[2], u'z');  // left as Windows left it

  size = MultiSz::kBytes;
  EXPECT_EQ(QueryValueZeroFill(key_, u"Missing", &type, buffer.data(), &size),
            win::kFileNotFound);
  EXPECT_EQ(QueryValueZeroFill(key_, u"Short", nullptr, buffer.data(), &size),
            win::kInvalidParameter);
}

TEST_F(RegistryHelpers, ValueExistsOfAnyTypeAndSize) {
  machine_.PutValue(kKey, u"Full", win::kRegMultiSz, std::string(2048, 'a'));
  machine_.PutValue(kKey, u"Over", win::kRegMultiSz, std::string(2049, 'a'));
  machine_.PutValue(kKey, u"Empty", win::kRegMultiSz, "");
  machine_.PutDword(kKey, u"Number", 7);
  EXPECT_EQ(ValueExists(key_, u"Full"), 1);
  EXPECT_EQ(ValueExists(key_, u"Empty"), 1);
  EXPECT_EQ(ValueExists(key_, u"Number"), 1);
  EXPECT_EQ(ValueExists(key_, u"Over"), 1);  // too large for a list, present
  EXPECT_EQ(ValueExists(key_, u"Missing"), 0);
}

TEST_F(RegistryHelpers, WriteStoresTheListWithBothFinalNulsAndRaisesTheFlag) {
  const MultiSz list = [] {
    MultiSz l;
    const std::u16string_view units(u"a\0b\0\0", 5);
    std::copy(units.begin(), units.end(), l.units.begin());
    return l;
  }();
  EXPECT_EQ(WriteMultiSzOrDelete(key_, u"LowerFilters", &list,
                                 2 * MultiSzLength(&list)),
            1);
  EXPECT_EQ(g_changesMade, 1);
  const auto stored = machine_.GetValue(kKey, u"LowerFilters");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, win::kRegMultiSz);
  EXPECT_EQ(stored->bytes, std::string("a\0\0\0b\0\0\0\0\0", 10));
}

TEST_F(RegistryHelpers, LengthZeroDeletesAndAFailureLeavesTheFlagAlone) {
  const MultiSz empty;
  machine_.PutMultiSz(kKey, u"LowerFilters", {u"a"});
  EXPECT_EQ(WriteMultiSzOrDelete(key_, u"LowerFilters", &empty, 0), 1);
  EXPECT_FALSE(machine_.GetValue(kKey, u"LowerFilters").has_value());
  EXPECT_EQ(g_changesMade, 1);

  g_changesMade = 0;
  EXPECT_EQ(WriteMultiSzOrDelete(key_, u"LowerFilters", &empty, 0), 0);
  EXPECT_EQ(WriteMultiSzOrDelete(key_, u"LowerFilters", nullptr, 6), 0);
  // A length past the buffer is refused, not read.
  EXPECT_EQ(WriteMultiSzOrDelete(key_, u"LowerFilters", &empty, 2050), 0);
  machine_.FailWrites(kKey, 1018);  // ERROR_KEY_DELETED
  EXPECT_EQ(WriteMultiSzOrDelete(key_, u"UpperFilters", &empty, 2), 0);
  EXPECT_EQ(g_changesMade, 0);
  EXPECT_FALSE(machine_.GetValue(kKey, u"LowerFilters").has_value());
}

}  // namespace
}  // namespace tarvox
