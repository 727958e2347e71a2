#include "support/Replay.h"

#include "multisz/Names.h"
#include "platform/RegKey.h"
#include "repair/DeviceFilters.h"

namespace tarvox::testing {

void ReplayChanges(const std::vector<OverlayPlatform::Change>& changes, Platform& target) {
  for (const OverlayPlatform::Change& change : changes) {
    switch (change.kind) {
      case OverlayPlatform::Change::Kind::kKeyCreated: {
        RegKey key(target);
        key.Create(change.where, win::kKeyQueryValue | win::kKeySetValue);
        break;
      }
      case OverlayPlatform::Change::Kind::kValueSet: {
        RegKey key(target);
        if (key.Create(change.where, win::kKeySetValue) != win::kSuccess) break;
        // A non-NUL unit after the data keeps Windows from adding a NUL.
        std::string bytes = change.bytes;
        bytes.append("\xff\xff", 2);
        key.SetValue(change.name, change.type, bytes.data(),
                     static_cast<std::uint32_t>(change.bytes.size()));
        break;
      }
      case OverlayPlatform::Change::Kind::kValueDeleted: {
        RegKey key(target);
        if (key.Open(change.where, win::kKeySetValue) == win::kSuccess) {
          key.DeleteValue(change.name);
        }
        break;
      }
      case OverlayPlatform::Change::Kind::kPropertySet:
      case OverlayPlatform::Change::Kind::kPropertyCleared: {
        const DeviceSetHandle set = target.OpenCdromDevices();
        if (set == kNoDeviceSet) break;
        for (std::uint32_t index = 0; target.EnumDevice(set, index); ++index) {
          std::u16string id;
          if (target.DeviceInstanceId(set, index, &id) != win::kSuccess ||
              !SameName(id, change.where)) {
            continue;
          }
          const bool cleared = change.kind == OverlayPlatform::Change::Kind::kPropertyCleared;
          target.SetDeviceProperty(set, index, change.property,
                                   cleared ? nullptr : change.bytes.data(),
                                   cleared ? 0 : static_cast<std::uint32_t>(change.bytes.size()));
          break;
        }
        target.CloseDevices(set);
        break;
      }
      case OverlayPlatform::Change::Kind::kFileRenamed:
        target.RenameFile(change.where, change.name);
        break;
    }
  }
}

}  // namespace tarvox::testing
