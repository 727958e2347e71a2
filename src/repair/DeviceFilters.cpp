#include "repair/DeviceFilters.h"

#include <algorithm>

#include "log/RunLog.h"
#include "multisz/Names.h"
#include "platform/RegKey.h"
#include "platform/RunState.h"
#include "repair/RunContext.h"

namespace tarvox {
namespace {

// Value names hold at most 16,383 units: with the NUL, every name fits, so
// no name too long for the buffer can end the scan before a backup's name.
constexpr std::uint32_t kValueNameUnits = 16384;

// The value name a device backup is written under: "_1" until some value
// name of the key contains it, in any letter case, then "_2". Value names
// are one whatever their case: "lowerfilters_1" is the first backup, and
// writing "LowerFilters_1" would overwrite it. The registry's own comparison
// folds more than A to Z; asking it for the exact name covers the rest.
std::u16string DeviceBackupValueName(const RegKey& key,
                                     std::uint32_t property) {
  const std::u16string_view list = DeviceListName(property);
  const std::u16string first = BackupValueName(list, kFirstBackup);
  const std::u16string latest = BackupValueName(list, kLatestBackup);
  if (ValueExists(key, first) != 0) return latest;
  std::u16string name(kValueNameUnits, u'\0');
  for (std::uint32_t index = 0;; ++index) {
    std::uint32_t length = kValueNameUnits;
    const Status status = key.EnumValue(index, name.data(), &length);
    if (status == win::kNoMoreItems) break;
    // A scan cut short cannot tell that no first backup is there: the
    // latest slot is taken, so a first backup is never overwritten.
    if (status != win::kSuccess) return latest;
    const std::u16string_view found(name.data(),
                                    std::min(length, kValueNameUnits));
    if (ContainsName(found, first)) return latest;
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

int BackupDeviceFilters(Platform& os, std::uint32_t property, const ListAsRead& read,
                        int number, std::u16string_view instance_id, RunContext* run) {
  const std::u16string path = DeviceBackupKeyPath(number);
  RegKey key(os);
  bool made = false;
  if (key.Create(path, win::kKeyQueryValue | win::kKeySetValue, &made) !=
      win::kSuccess) {
    RunLog << Message::kCouldNotOpenKey << kEndLine;
    RunLog << path << kEndLine;
    return 0;
  }
  const auto tell = [&](RunEvent event) {
    if (run != nullptr) run->Tell([&](RunObserver& observer) { observer.Did(event); });
  };
  if (made) tell({RunEvent::Kind::kBackupKeyMade, path, {}, {}});
  const std::u16string backup = DeviceBackupValueName(key, property);
  if (WriteBackupValue(key, backup, read) != 1) return 0;
  tell({RunEvent::Kind::kBackupWritten, path, backup, {}});
  // Which device the backup came from, and when: positions change as
  // devices come and go. Without them the backup stands, as those of older
  // versions do.
  WriteDeviceBackupRecord(key, backup, BackupValueOf(read), instance_id, os.Now());
  return 1;
}

namespace {

// How a device's list is changed: the list as read saved under the backup
// key of its position; the list written, or the property cleared when no
// name is left (a pruned list Windows took asks for a reboot). A list that
// holds no name is passed over.
ListWrites DeviceListWrites(Platform& os, RunContext& run, std::uint32_t property,
                            const DeviceEnumerator& devices, int number, const ListAsRead& read) {
  ListWrites writes;
  writes.back_up = [&os, &run, property, &devices, number, &read] {
    std::u16string instance_id;
    os.DeviceInstanceId(devices.set(), devices.index(), &instance_id);
    return BackupDeviceFilters(os, property, read, number, instance_id, &run) == 1;
  };
  writes.write = [&os, &run, property, &devices](const MultiSz& list, bool pruned) {
    const int length = MultiSzLength(&list);
    const Status status =
        length > 0 ? os.SetDeviceProperty(devices.set(), devices.index(), property, list.data(),
                                          static_cast<std::uint32_t>(length * 2 + 4))
                   : os.SetDeviceProperty(devices.set(), devices.index(), property, nullptr, 0);
    if (status == win::kSuccess) {
      if (pruned) g_changesMade = 1;
      run.Tell([&](RunObserver& observer) {
        observer.Did(length > 0 ? RunEvent{RunEvent::Kind::kListWritten, {}, {}, MultiSzEntries(list)}
                                : RunEvent{RunEvent::Kind::kPropertyCleared, {}, {}, {}});
      });
    }
    return 1;
  };
  return writes;
}

void RepairEachDevice(Platform& os, RunContext& run, std::uint32_t property,
                      DeviceEnumerator& devices) {
  for (int number = 0; devices.status() == DeviceEnumerator::kOnDevice;
       ++number, devices.Step()) {
    run.Tell([&](RunObserver& observer) {
      ListPlace place{{}, std::u16string(DeviceListName(property)), number, {}, property};
      os.DeviceInstanceId(devices.set(), devices.index(), &place.device_id);
      observer.Place(place);
    });
    // A list that does not fit the buffer leaves the buffer undefined: such
    // a device is passed over, as one without a list.
    const ListReader read_list = [&](ListAsRead* read) {
      const Status status =
          os.GetDeviceProperty(devices.set(), devices.index(), property, &read->type,
                               read->stored.data(), MultiSz::kBytes, &read->size);
      if (status == win::kSuccess) SingleStringToList(read);
      return status;
    };
    RepairListAsItNowIs(run, read_list, [&](const ListAsRead& read) {
      return RepairReadList(os, run, read_list, read,
                            DeviceListWrites(os, run, property, devices, number, read));
    });
  }
}

}  // namespace

void RepairDeviceFilters(Platform& os, RunContext& run, std::uint32_t property,
                         DeviceSetHandle set) {
  DeviceEnumerator devices(os, set);
  RepairEachDevice(os, run, property, devices);
}

}  // namespace tarvox
