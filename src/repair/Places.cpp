#include "repair/Places.h"

#include "multisz/Names.h"

namespace tarvox {

std::u16string_view DeviceListName(std::uint32_t property) {
  return property == win::kSpdrpLowerFilters ? kLowerFilters : kUpperFilters;
}

int PlaceOrder(std::u16string_view key, std::u16string_view list, std::uint32_t property) {
  for (std::size_t at = 0; at < std::size(kRepairPlaces); ++at) {
    const RepairPlace& place = kRepairPlaces[at];
    const bool same = place.kind == PlaceKind::kKeyList
                          ? property == 0 && SameName(place.key->path, key) && SameName(place.list, list)
                          : place.kind == PlaceKind::kDeviceList && property == place.property;
    if (same) return static_cast<int>(at);
  }
  return -1;
}

int CoInstallerOrder() {
  for (std::size_t at = 0; at < std::size(kRepairPlaces); ++at) {
    if (kRepairPlaces[at].kind == PlaceKind::kCoInstaller) return static_cast<int>(at);
  }
  return -1;
}

std::u16string KeyPlaceTitle(std::u16string_view key) {
  if (SameName(key, kCdromClassKey)) return u"CD-ROM class key";
  if (SameName(key, kCdromCriticalDeviceKey)) return u"Critical-device entry (gencdrom)";
  return std::u16string(key);
}

std::u16string DevicePlaceTitle(int position, std::u16string_view instance_id) {
  std::u16string title = u"CD-ROM device ";
  for (const char digit : std::to_string(position)) title += char16_t(digit);
  return title + u" (" + std::u16string(instance_id) + u")";
}

std::u16string BackupValueName(std::u16string_view list, int slot) {
  return std::u16string(list) + (slot == kFirstBackup ? u"_1" : u"_2");
}

std::u16string DeviceBackupKeyPath(int number) {
  std::u16string path(kDeviceBackupKeyPrefix);
  for (const char digit : std::to_string(number)) path += char16_t(digit);
  return path;
}

int DeviceBackupKeyNumber(std::u16string_view name) {
  if (name.size() <= kDeviceBackupKeyName.size() ||
      name.size() > kDeviceBackupKeyName.size() + 6 ||
      !SameName(name.substr(0, kDeviceBackupKeyName.size()), kDeviceBackupKeyName)) {
    return -1;
  }
  int number = 0;
  for (const char16_t digit : name.substr(kDeviceBackupKeyName.size())) {
    if (digit < u'0' || digit > u'9') return -1;
    number = number * 10 + (digit - u'0');
  }
  return number;
}

}  // namespace tarvox
