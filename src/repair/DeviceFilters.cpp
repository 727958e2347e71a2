#include "repair/DeviceFilters.h"

#include <algorithm>

#include "log/RunLog.h"
#include "platform/RegKey.h"
#include "platform/RunState.h"

namespace tarvox {
namespace {

// Value names hold at most 16,383 units: with the NUL, every name fits, so
// no name too long for the buffer can end the scan before a backup's name.
constexpr std::uint32_t kValueNameUnits = 16384;

std::u16string BackupKeyPath(int number) {
  std::u16string path(kDeviceBackupKeyPrefix);
  for (const char digit : std::to_string(number)) path += char16_t(digit);
  return path;
}

// The value name a device backup is written under: "_1" until some value
// name of the key contains it (in this letter case), then "_2".
std::u16string DeviceBackupValueName(const RegKey& key,
                                     std::uint32_t property) {
  const std::u16string_view list = property == win::kSpdrpLowerFilters
                                       ? u"LowerFilters"
                                       : u"UpperFilters";
  const std::u16string first = std::u16string(list) + u"_1";
  std::u16string name(kValueNameUnits, u'\0');
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t length = kValueNameUnits;
    const Status status = key.EnumValue(index, name.data(), &length);
    if (status == win::kNoMoreItems) break;
    // A scan cut short cannot tell that no first backup is there: the
    // latest slot is taken, so a first backup is never overwritten.
    if (status != win::kSuccess) return std::u16string(list) + u"_2";
    const std::u16string_view found(name.data(),
                                    std::min(length, kValueNameUnits));
    if (found.find(first) != std::u16string_view::npos) {
      return std::u16string(list) + u"_2";
    }
  }
  return first;
}

}  // namespace

DeviceEnumerator::DeviceEnumerator(Platform& os, DeviceSetHandle set)
    : os_(os), set_(set) {
  if (set_ != kNoDeviceSet) Step();
}

void DeviceEnumerator::Step() {
  ++index_;
  status_ = os_.EnumDevice(set_, index()) ? kOnDevice : kNoDevice;
}

int BackupDeviceFilters(Platform& os, std::uint32_t property,
                        const ListAsRead& read, int number) {
  const std::u16string path = BackupKeyPath(number);
  RegKey key(os);
  if (key.Create(path, win::kKeyQueryValue | win::kKeySetValue) !=
      win::kSuccess) {
    RunLog << Message::kCouldNotOpenKey << kEndLine;
    RunLog << path << kEndLine;
    return 0;
  }
  return WriteBackupValue(key, DeviceBackupValueName(key, property), read);
}

namespace {

void RepairEachDevice(Platform& os, std::uint32_t property,
                      DeviceEnumerator& devices) {
  for (int number = 0; devices.status() == DeviceEnumerator::kOnDevice;
       ++number, devices.Step()) {
    ListAsRead read;
    // A list that does not fit the buffer leaves the buffer undefined: such
    // a device is passed over, as one without a list.
    if (os.GetDeviceProperty(devices.set(), devices.index(), property,
                             &read.type, read.list.data(), MultiSz::kBytes,
                             &read.size) != win::kSuccess) {
      continue;
    }
    const bool single_string = read.type == win::kRegSz;
    if (single_string) SingleStringToList(&read);
    if (MultiSzLength(&read.list) == 0) continue;  // no name: nothing to do
    if (single_string) {
      // The conversion changes how the list is stored, not what it holds: no
      // backup, no reboot.
      os.SetDeviceProperty(devices.set(), devices.index(), property,
                           read.list.data(), read.size);
    }

    MultiSz working;
    MultiSzCopy(&working, &read.list);
    if (!PruneFilterList(os, read.list, &working)) continue;
    if (BackupDeviceFilters(os, property, read, number) == 0) continue;

    const int length = MultiSzLength(&working);
    const Status written =
        length > 0 ? os.SetDeviceProperty(
                         devices.set(), devices.index(), property,
                         working.data(), static_cast<std::uint32_t>(length * 2 + 4))
                   : os.SetDeviceProperty(devices.set(), devices.index(),
                                          property, nullptr, 0);
    if (written == win::kSuccess) g_changesMade = 1;
  }
}

}  // namespace

void RepairDeviceFilters(Platform& os, std::uint32_t property) {
  const CdromDeviceSet devices(os);
  RepairDeviceFilters(os, property, devices.get());
}

void RepairDeviceFilters(Platform& os, std::uint32_t property,
                         DeviceSetHandle set) {
  DeviceEnumerator devices(os, set);
  RepairEachDevice(os, property, devices);
}

}  // namespace tarvox
