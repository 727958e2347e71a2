// Registry behaviour the repair logic relies on, pinned on both backends.
#include <array>
#include <cstring>
#include <initializer_list>
#include <set>

#include "contract/ContractHost.h"
#include "platform/RegKey.h"

namespace tarvox::contract {
namespace {

constexpr std::u16string_view kRoot = u"SOFTWARE\\TarvoxContract";
constexpr std::uint32_t kReadWrite = win::kKeyQueryValue | win::kKeySetValue;

class RegistryContract : public Contract {
 protected:
  // A fresh key below the test root, open for reading and writing.
  RegKey MakeKey(std::u16string_view name) {
    RegKey key(os_);
    std::u16string path(kRoot);
    path += u'\\';
    path += name;
    EXPECT_EQ(key.Create(path, kReadWrite | win::kKeyEnumerateSubKeys),
              win::kSuccess);
    return key;
  }
};

TEST_F(RegistryContract, OpensKeysWhateverTheCaseOfTheirNames) {
  RegKey key(os_);
  EXPECT_EQ(key.Open(u"SOFTWARE\\TarvoxContract\\Alpha", win::kKeyQueryValue),
            win::kFileNotFound);
  bool created = false;
  EXPECT_EQ(key.Create(u"SOFTWARE\\TarvoxContract\\Alpha\\Beta", kReadWrite, &created),
            win::kSuccess);
  EXPECT_TRUE(created);
  EXPECT_EQ(key.Open(u"software\\TARVOXCONTRACT\\alpha\\bEtA",
                     win::kKeyQueryValue),
            win::kSuccess);
  // Made again in another letter case: the same key, there already.
  EXPECT_EQ(key.Create(u"SOFTWARE\\TARVOXCONTRACT\\ALPHA\\BETA", kReadWrite, &created),
            win::kSuccess);
  EXPECT_FALSE(created);
}

TEST_F(RegistryContract, QueryGivesTypeAndByteCountOfEveryKindOfValue) {
  const RegKey key = MakeKey(u"Types");
  struct Case {
    std::u16string_view name;
    std::uint32_t type;
    std::size_t bytes;
  };
  const Case cases[] = {
      {u"Empty", win::kRegMultiSz, 0},   {u"Six", win::kRegMultiSz, 6},
      {u"Text", win::kRegSz, 8},         {u"Blob", win::kRegBinary, 5},
      {u"Number", win::kRegDword, 4},    {u"Full", win::kRegMultiSz, 2048},
  };
  for (const Case& c : cases) {
    // Units of 'a' and no NUL; what follows in the buffer is not a NUL
    // either, so string values are stored just as long as given.
    std::string data(c.bytes + 2, 'x');
    for (std::size_t i = 0; i < c.bytes; ++i) data[i] = (i % 2) ? '\0' : 'a';
    ASSERT_EQ(key.SetValue(c.name, c.type, data.data(),
                           static_cast<std::uint32_t>(c.bytes)),
              win::kSuccess);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    std::array<unsigned char, 2048> buffer{};
    std::uint32_t type = 99;
    std::uint32_t size = buffer.size();
    EXPECT_EQ(key.QueryValue(c.name, &type, buffer.data(), &size),
              win::kSuccess);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.bytes);
  }
}

TEST_F(RegistryContract, ValueLargerThanTheBufferAsksForMoreAndTouchesNothing) {
  const RegKey key = MakeKey(u"Large");
  const std::string data(2049, 'x');
  ASSERT_EQ(key.SetValue(u"Big", win::kRegBinary, data.data(), 2049),
            win::kSuccess);
  std::array<unsigned char, 2048> buffer;
  buffer.fill(0xAB);
  std::uint32_t type = 0;
  std::uint32_t size = buffer.size();
  EXPECT_EQ(key.QueryValue(u"Big", &type, buffer.data(), &size),
            win::kMoreData);
  EXPECT_EQ(size, 2049u);
  EXPECT_EQ(type, win::kRegBinary);
  for (const unsigned char byte : buffer) ASSERT_EQ(byte, 0xAB);

  // Asked for its size alone, a value of any size answers.
  size = 0;
  EXPECT_EQ(key.QueryValue(u"Big", nullptr, nullptr, &size), win::kSuccess);
  EXPECT_EQ(size, 2049u);
  EXPECT_EQ(key.QueryValue(u"Missing", nullptr, nullptr, &size),
            win::kFileNotFound);
}

// A start type is read into a 4-byte number: only what the query wrote may
// be judged.
TEST_F(RegistryContract, QueryIntoFourBytesFillsWhatFitsAndNoMore) {
  const RegKey key = MakeKey(u"Start");
  const char data[] = "\x01\x02\x03\x04\x05\x06\x07\x08";
  struct Case {
    std::u16string_view name;
    std::uint32_t bytes;
    Status status;
    std::uint32_t number;  // as read, 0xAAAAAAAA before the query
  };
  const Case cases[] = {
      {u"Zero", 0, win::kSuccess, 0xAAAAAAAA},
      {u"Two", 2, win::kSuccess, 0xAAAA0201},
      {u"Four", 4, win::kSuccess, 0x04030201},
      {u"Eight", 8, win::kMoreData, 0xAAAAAAAA},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(key.SetValue(c.name, win::kRegBinary, data, c.bytes),
              win::kSuccess);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    std::uint32_t number = 0xAAAAAAAA;
    std::uint32_t size = sizeof number;
    EXPECT_EQ(key.QueryValue(c.name, nullptr, &number, &size), c.status);
    EXPECT_EQ(size, c.bytes);
    EXPECT_EQ(number, c.number);
  }
  std::uint32_t number = 0xAAAAAAAA;
  std::uint32_t size = sizeof number;
  EXPECT_EQ(key.QueryValue(u"Missing", nullptr, &number, &size),
            win::kFileNotFound);
  EXPECT_EQ(number, 0xAAAAAAAAu);
}

// A service's image path is read into 260 units: 259 and a NUL fit.
TEST_F(RegistryContract, TextOf259UnitsFitsA520ByteBufferAndLongerDoesNot) {
  const RegKey key = MakeKey(u"ImagePath");
  const std::u16string fits = std::u16string(259, u'p') + u'\0';
  const std::u16string over = std::u16string(260, u'q') + u'\0';
  ASSERT_EQ(key.SetValue(u"Fits", win::kRegExpandSz, fits.data(), 520),
            win::kSuccess);
  ASSERT_EQ(key.SetValue(u"Over", win::kRegExpandSz, over.data(), 522),
            win::kSuccess);
  std::array<char16_t, 260> buffer;
  buffer.fill(u'#');
  std::uint32_t type = 0;
  std::uint32_t size = sizeof buffer;
  ASSERT_EQ(key.QueryValue(u"Fits", &type, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(size, 520u);
  EXPECT_EQ(type, win::kRegExpandSz);
  EXPECT_EQ(std::u16string_view(buffer.data()), std::u16string(259, u'p'));

  buffer.fill(u'#');
  size = sizeof buffer;
  EXPECT_EQ(key.QueryValue(u"Over", &type, buffer.data(), &size),
            win::kMoreData);
  EXPECT_EQ(size, 522u);
  EXPECT_EQ(buffer[0], u'#');
}

TEST_F(RegistryContract, MissingValueIsNotFoundForQueryAndDelete) {
  const RegKey key = MakeKey(u"Missing");
  std::array<unsigned char, 16> buffer{};
  std::uint32_t size = buffer.size();
  EXPECT_EQ(key.QueryValue(u"Nothing", nullptr, buffer.data(), &size),
            win::kFileNotFound);
  EXPECT_EQ(key.DeleteValue(u"Nothing"), win::kFileNotFound);

  ASSERT_EQ(key.SetValue(u"Something", win::kRegDword, "\1\0\0\0", 4),
            win::kSuccess);
  EXPECT_EQ(key.DeleteValue(u"SOMETHING"), win::kSuccess);
  EXPECT_EQ(key.QueryValue(u"Something", nullptr, buffer.data(), &size),
            win::kFileNotFound);
}

TEST_F(RegistryContract, StringWithoutNulReadsWithOneAddedWhenThereIsRoom) {
  const RegKey key = MakeKey(u"Unterminated");
  // "ab" stored without its NUL (the unit after it in our buffer is not NUL,
  // so nothing is added on the way in).
  const char16_t units[] = {u'a', u'b', u'x'};
  ASSERT_EQ(key.SetValue(u"Text", win::kRegSz, units, 4), win::kSuccess);

  std::array<char16_t, 4> buffer;
  buffer.fill(u'#');
  std::uint32_t size = sizeof buffer;
  ASSERT_EQ(key.QueryValue(u"Text", nullptr, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(size, 4u);  // the added NUL is not counted
  EXPECT_EQ(std::u16string_view(buffer.data(), 4), std::u16string_view(u"ab\0#", 4));

  // No room for it: the buffer holds just the data.
  std::array<char16_t, 2> tight;
  tight.fill(u'#');
  size = sizeof tight;
  ASSERT_EQ(key.QueryValue(u"Text", nullptr, tight.data(), &size),
            win::kSuccess);
  EXPECT_EQ(std::u16string_view(tight.data(), 2), u"ab");
}

TEST_F(RegistryContract, MultiStringIsStoredWithExactlyTheBytesGiven) {
  const RegKey key = MakeKey(u"Lists");
  const char16_t list[] = u"a\0bc\0\0";  // [a, bc], closing NUL included
  ASSERT_EQ(key.SetValue(u"Filters", win::kRegMultiSz, list, 12),
            win::kSuccess);
  std::array<char16_t, 16> buffer{};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof buffer;
  ASSERT_EQ(key.QueryValue(u"Filters", &type, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(type, win::kRegMultiSz);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(std::memcmp(buffer.data(), list, 12), 0);

  // An empty list: the two final NULs alone.
  ASSERT_EQ(key.SetValue(u"Empty", win::kRegMultiSz, u"\0\0", 4),
            win::kSuccess);
  size = sizeof buffer;
  ASSERT_EQ(key.QueryValue(u"Empty", &type, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(size, 4u);
}

TEST_F(RegistryContract, StringDataShortOfItsNulGetsTheNulThatFollowsIt) {
  const RegKey key = MakeKey(u"Counting");
  std::array<unsigned char, 16> buffer{};
  std::uint32_t size = 0;

  // "ab" counted as 4 bytes, a NUL after it in the buffer: stored as 6.
  ASSERT_EQ(key.SetValue(u"Followed", win::kRegMultiSz, u"ab\0", 4),
            win::kSuccess);
  size = buffer.size();
  ASSERT_EQ(key.QueryValue(u"Followed", nullptr, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(size, 6u);

  // Followed by anything else: stored as given.
  ASSERT_EQ(key.SetValue(u"Unfollowed", win::kRegMultiSz, u"abc", 4),
            win::kSuccess);
  size = buffer.size();
  ASSERT_EQ(key.QueryValue(u"Unfollowed", nullptr, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(size, 4u);

  // Binary data is never extended.
  ASSERT_EQ(key.SetValue(u"Binary", win::kRegBinary, u"ab\0", 4),
            win::kSuccess);
  size = buffer.size();
  ASSERT_EQ(key.QueryValue(u"Binary", nullptr, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(size, 4u);
}

TEST_F(RegistryContract, SubkeysEnumerateInNameOrderThenRunOut) {
  const auto add = [&](std::initializer_list<std::u16string_view> names) {
    for (const auto name : names) {
      RegKey child(os_);
      ASSERT_EQ(child.Create(std::u16string(kRoot) + u"\\Order\\" + std::u16string(name),
                             win::kKeyQueryValue),
                win::kSuccess);
    }
  };
  RegKey key(os_);
  const auto listed = [&] {
    std::vector<std::u16string> names;
    for (std::uint32_t index = 0;; ++index) {
      std::array<char16_t, 260> name{};
      std::uint32_t length = name.size();
      const Status status = key.EnumKey(index, name.data(), &length);
      if (status == win::kNoMoreItems) break;
      EXPECT_EQ(status, win::kSuccess);
      if (status != win::kSuccess) break;
      names.emplace_back(name.data(), length);
    }
    return names;
  };
  add({u"b", u"A", u"c2", u"C1", u"0"});
  ASSERT_EQ(key.Open(u"SOFTWARE\\TarvoxContract\\Order", win::kKeyEnumerateSubKeys),
            win::kSuccess);
  EXPECT_EQ(listed(), (std::vector<std::u16string>{u"0", u"A", u"b", u"C1", u"c2"}));
  // Windows' registry keeps subkeys in the order of their upper-cased names,
  // so '_' (between 'Z' and 'a') comes after every letter; Wine orders by
  // the lower-cased name and puts it before them. Wine cannot show it.
  if (!host_->wine()) {
    add({u"A_B", u"AB"});
    EXPECT_EQ(listed(), (std::vector<std::u16string>{u"0", u"A", u"AB", u"A_B", u"b", u"C1", u"c2"}));
  }

  // A name buffer too small: 234, whatever the length held.
  std::array<char16_t, 2> small{};
  std::uint32_t length = small.size();
  EXPECT_EQ(key.EnumKey(3, small.data(), &length), win::kMoreData);
}

TEST_F(RegistryContract, ValuesEnumerateByIndexThenRunOut) {
  const RegKey key = MakeKey(u"Names");
  for (const auto name : {u"LowerFilters_1", u"xUpperFilters_1", u"Other"}) {
    ASSERT_EQ(key.SetValue(name, win::kRegDword, "\0\0\0\0", 4), win::kSuccess);
  }
  std::set<std::u16string> names;
  std::uint32_t index = 0;
  for (;; ++index) {
    std::array<char16_t, 1024> name{};
    std::uint32_t length = name.size();
    const Status status = key.EnumValue(index, name.data(), &length);
    if (status == win::kNoMoreItems) break;
    ASSERT_EQ(status, win::kSuccess);
    names.emplace(name.data(), length);
  }
  EXPECT_EQ(index, 3u);
  EXPECT_EQ(names, (std::set<std::u16string>{u"LowerFilters_1",
                                              u"xUpperFilters_1", u"Other"}));
  std::array<char16_t, 4> small{};
  std::uint32_t length = small.size();
  EXPECT_EQ(key.EnumValue(0, small.data(), &length), win::kMoreData);
}

TEST_F(RegistryContract, KeyHandleDoesOnlyWhatItWasOpenedFor) {
  { MakeKey(u"Rights"); }
  RegKey key(os_);
  ASSERT_EQ(key.Open(u"SOFTWARE\\TarvoxContract\\Rights", win::kKeyQueryValue),
            win::kSuccess);
  EXPECT_EQ(key.SetValue(u"Value", win::kRegDword, "\0\0\0\0", 4),
            win::kAccessDenied);
  EXPECT_EQ(key.DeleteValue(u"Value"), win::kAccessDenied);
}

TEST_F(RegistryContract, DeniedRightRefusesOnlyTheOpensThatAskForIt) {
  { MakeKey(u"Locked"); }
  constexpr std::u16string_view path = u"SOFTWARE\\TarvoxContract\\Locked";
  host_->DenyKeyAccess(path, win::kKeySetValue);
  RegKey key(os_);
  EXPECT_EQ(key.Open(path, kReadWrite), win::kAccessDenied);
  EXPECT_FALSE(key.is_open());
  EXPECT_EQ(key.Create(path, kReadWrite), win::kAccessDenied);
  EXPECT_EQ(key.Open(path, win::kKeyQueryValue), win::kSuccess);
  // The right to make subkeys is asked for the same way, so a key that
  // refuses it tells so before anything is made below it. (Wine does not
  // check that right when a subkey is made; Windows does.)
  { MakeKey(u"Closed"); }
  constexpr std::u16string_view closed = u"SOFTWARE\\TarvoxContract\\Closed";
  host_->DenyKeyAccess(closed, win::kKeyCreateSubKey);
  EXPECT_EQ(key.Open(closed, win::kKeyCreateSubKey), win::kAccessDenied);
  EXPECT_EQ(key.Open(closed, kReadWrite), win::kSuccess);
}

}  // namespace
}  // namespace tarvox::contract
