// Devices of the CD-ROM setup class and their filter properties.
#include <array>
#include <cstring>
#include <vector>

#include "contract/ContractHost.h"
#include "platform/RegKey.h"

namespace tarvox::contract {
namespace {

constexpr std::u16string_view kDevice =
    u"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000";
constexpr std::u16string_view kCdromClass =
    u"{4D36E965-E325-11CE-BFC1-08002BE10318}";

class DeviceContract : public Contract {
 protected:
  // A device exists for the device services once its key names the class.
  void SetUp() override {
    RegKey key(os_);
    ASSERT_EQ(key.Create(kDevice, win::kKeySetValue), win::kSuccess);
    const std::u16string guid = std::u16string(kCdromClass) + u'\0';
    ASSERT_EQ(key.SetValue(u"ClassGUID", win::kRegSz, guid.data(),
                           static_cast<std::uint32_t>(guid.size() * 2)),
              win::kSuccess);
  }

  // Opens the set and finds the device seeded above (the only one).
  DeviceSetHandle OpenSet() {
    const DeviceSetHandle set = os_.OpenCdromDevices();
    EXPECT_NE(set, kNoDeviceSet);
    EXPECT_TRUE(os_.EnumDevice(set, 0));
    EXPECT_FALSE(os_.EnumDevice(set, 1));
    return set;
  }
};

TEST_F(DeviceContract, MissingPropertyIsInvalidData) {
  const DeviceSetHandle set = OpenSet();
  std::array<char16_t, 1024> buffer{};
  std::uint32_t type = 0;
  EXPECT_EQ(os_.GetDeviceProperty(set, 0, win::kSpdrpLowerFilters, &type,
                                  buffer.data(), sizeof buffer, nullptr),
            win::kInvalidData);
  os_.CloseDevices(set);
}

TEST_F(DeviceContract, WrittenListReadsBackAsAMultiString) {
  const DeviceSetHandle set = OpenSet();
  const char16_t list[] = u"flt\0abc\0\0";
  ASSERT_EQ(os_.SetDeviceProperty(set, 0, win::kSpdrpLowerFilters, list, 18),
            win::kSuccess);
  std::array<char16_t, 1024> buffer{};
  std::uint32_t type = 0;
  std::uint32_t bytes = 0;
  ASSERT_EQ(os_.GetDeviceProperty(set, 0, win::kSpdrpLowerFilters, &type,
                                  buffer.data(), sizeof buffer, &bytes),
            win::kSuccess);
  EXPECT_EQ(type, win::kRegMultiSz);
  EXPECT_EQ(bytes, 18u);
  EXPECT_EQ(std::memcmp(buffer.data(), list, 18), 0);

  // The property is the device key's value.
  RegKey key(os_);
  ASSERT_EQ(key.Open(kDevice, win::kKeyQueryValue), win::kSuccess);
  std::uint32_t size = sizeof buffer;
  EXPECT_EQ(key.QueryValue(u"LowerFilters", &type, buffer.data(), &size),
            win::kSuccess);
  EXPECT_EQ(size, 18u);

  std::array<char16_t, 4> small{};
  bytes = 0;
  EXPECT_EQ(os_.GetDeviceProperty(set, 0, win::kSpdrpLowerFilters, &type,
                                  small.data(), sizeof small, &bytes),
            win::kInsufficientBuffer);
  EXPECT_EQ(bytes, 18u);  // what it would need
  os_.CloseDevices(set);
}

TEST_F(DeviceContract, PropertyStoredAsSingleStringReportsItsType) {
  RegKey key(os_);
  ASSERT_EQ(key.Open(kDevice, win::kKeySetValue), win::kSuccess);
  ASSERT_EQ(key.SetValue(u"UpperFilters", win::kRegSz, u"flt", 8),
            win::kSuccess);
  const DeviceSetHandle set = OpenSet();
  std::array<char16_t, 1024> buffer{};
  std::uint32_t type = 0;
  std::uint32_t bytes = 0;
  ASSERT_EQ(os_.GetDeviceProperty(set, 0, win::kSpdrpUpperFilters, &type,
                                  buffer.data(), sizeof buffer, &bytes),
            win::kSuccess);
  EXPECT_EQ(type, win::kRegSz);
  EXPECT_EQ(bytes, 8u);
  EXPECT_EQ(std::u16string_view(buffer.data()), u"flt");
  os_.CloseDevices(set);
}

TEST_F(DeviceContract, ClearedPropertyReadsAsNoList) {
  const DeviceSetHandle set = OpenSet();
  ASSERT_EQ(os_.SetDeviceProperty(set, 0, win::kSpdrpUpperFilters, u"a\0", 6),
            win::kSuccess);
  EXPECT_EQ(os_.SetDeviceProperty(set, 0, win::kSpdrpUpperFilters, nullptr, 0),
            win::kSuccess);
  // Windows deletes the value; Wine keeps an empty one. Either way no list.
  std::array<char16_t, 1024> buffer{};
  std::uint32_t type = 0;
  const Status status = os_.GetDeviceProperty(
      set, 0, win::kSpdrpUpperFilters, &type, buffer.data(), sizeof buffer, nullptr);
  EXPECT_TRUE(status == win::kInvalidData ||
              (status == win::kSuccess && buffer[0] == u'\0'))
      << "status " << status;
  // Clearing it again, now it is gone, fails on Windows; Wine makes an
  // empty value. Wine cannot show it.
  if (!host_->wine()) {
    EXPECT_NE(os_.SetDeviceProperty(set, 0, win::kSpdrpUpperFilters, nullptr, 0), win::kSuccess);
  }
  os_.CloseDevices(set);
}

// Devices come in the order of their keys, each index once, and only those
// of the CD-ROM class.
TEST_F(DeviceContract, SetHoldsEveryCdromDeviceInKeyOrder) {
  const auto add = [&](std::u16string_view instance, std::u16string_view guid,
                       std::u16string_view lower) {
    RegKey key(os_);
    std::u16string path = u"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\";
    path += instance;
    ASSERT_EQ(key.Create(path, win::kKeySetValue), win::kSuccess);
    const std::u16string text = std::u16string(guid) + u'\0';
    ASSERT_EQ(key.SetValue(u"ClassGUID", win::kRegSz, text.data(),
                           static_cast<std::uint32_t>(text.size() * 2)),
              win::kSuccess);
    const std::u16string list = std::u16string(lower) + u'\0' + u'\0';
    ASSERT_EQ(key.SetValue(u"LowerFilters", win::kRegMultiSz, list.data(),
                           static_cast<std::uint32_t>(list.size() * 2)),
              win::kSuccess);
  };
  add(u"CDROM\\0002", kCdromClass, u"third");
  add(u"CDROM\\0001", kCdromClass, u"second");
  add(u"DISK\\0000", u"{4D36E967-E325-11CE-BFC1-08002BE10318}", u"disk");
  RegKey first(os_);
  ASSERT_EQ(first.Open(kDevice, win::kKeySetValue), win::kSuccess);
  ASSERT_EQ(first.SetValue(u"LowerFilters", win::kRegMultiSz, u"first\0", 14),
            win::kSuccess);

  const DeviceSetHandle set = os_.OpenCdromDevices();
  ASSERT_NE(set, kNoDeviceSet);
  std::vector<std::u16string> lists;
  std::vector<std::u16string> ids;
  std::uint32_t index = 0;
  for (; os_.EnumDevice(set, index); ++index) {
    std::u16string id;
    ASSERT_EQ(os_.DeviceInstanceId(set, index, &id), win::kSuccess);
    for (auto& unit : id) unit = (unit >= u'a' && unit <= u'z') ? unit - 32 : unit;
    ids.push_back(id);
    std::array<char16_t, 1024> buffer{};
    std::uint32_t type = 0;
    std::uint32_t bytes = 0;
    ASSERT_EQ(os_.GetDeviceProperty(set, index, win::kSpdrpLowerFilters, &type,
                                    buffer.data(), sizeof buffer, &bytes),
              win::kSuccess);
    lists.emplace_back(buffer.data());
  }
  EXPECT_EQ(lists, (std::vector<std::u16string>{u"first", u"second", u"third"}));
  EXPECT_EQ(ids, (std::vector<std::u16string>{u"ROOT\\CDROM\\0000", u"ROOT\\CDROM\\0001",
                                               u"ROOT\\CDROM\\0002"}));
  std::u16string none;
  EXPECT_EQ(os_.DeviceInstanceId(set, index, &none), win::kNoMoreItems);
  EXPECT_FALSE(os_.EnumDevice(set, index + 1));
  os_.CloseDevices(set);
}

}  // namespace
}  // namespace tarvox::contract
