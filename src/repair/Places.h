// The seven places a run checks, in the order it checks them, and the one
// rule for where the backups of a list go and what they are called. The
// repair writes by it, the check describes by it, the restore reads by it.
//
//   1  the CD-ROM class key's LowerFilters      backups beside it
//   2  the CD-ROM class key's UpperFilters      backups beside it
//   3  the product's co-installer entry         no backup (its installer
//                                               writes it again)
//   4  the critical-device entry's LowerFilters backups beside it
//   5  the critical-device entry's UpperFilters backups beside it
//   6  every CD-ROM device's lower filters      under BackupDeviceNr<N>,
//   7  every CD-ROM device's upper filters      N the device's position
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "repair/KeyFilterList.h"

namespace tarvox {

enum class PlaceKind { kKeyList, kCoInstaller, kDeviceList };

struct RepairPlace {
  PlaceKind kind;
  const FilterListKey* key;   // a key list's key; null otherwise
  std::u16string_view list;   // "LowerFilters" or "UpperFilters"; empty for the co-installer
  std::uint32_t property;     // a device list's property; 0 otherwise
  // A key list's repair (RepairClassFilterList, RepairCriticalDeviceFilterList).
  int (*repair_key_list)(Platform& os, RunContext& run, std::u16string_view valueName);
};

inline constexpr std::u16string_view kLowerFilters = u"LowerFilters";
inline constexpr std::u16string_view kUpperFilters = u"UpperFilters";

inline constexpr RepairPlace kRepairPlaces[] = {
    {PlaceKind::kKeyList, &kClassFilterLists, kLowerFilters, 0, &RepairClassFilterList},
    {PlaceKind::kKeyList, &kClassFilterLists, kUpperFilters, 0, &RepairClassFilterList},
    {PlaceKind::kCoInstaller, nullptr, {}, 0, nullptr},
    {PlaceKind::kKeyList, &kCriticalDeviceFilterLists, kLowerFilters, 0,
     &RepairCriticalDeviceFilterList},
    {PlaceKind::kKeyList, &kCriticalDeviceFilterLists, kUpperFilters, 0,
     &RepairCriticalDeviceFilterList},
    {PlaceKind::kDeviceList, nullptr, kLowerFilters, win::kSpdrpLowerFilters, nullptr},
    {PlaceKind::kDeviceList, nullptr, kUpperFilters, win::kSpdrpUpperFilters, nullptr},
};

// Where a place stands in kRepairPlaces: a key list by its key and list
// (`property` 0), a device list by its property; -1 for none.
int PlaceOrder(std::u16string_view key, std::u16string_view list, std::uint32_t property);
// Where the co-installer entry stands.
int CoInstallerOrder();

// What the reports call a place: "CD-ROM class key", "Critical-device entry
// (gencdrom)" for a key list's key (the key itself for any other); "CD-ROM
// device N (instance id)" for a device at position N.
std::u16string KeyPlaceTitle(std::u16string_view key);
std::u16string DevicePlaceTitle(int position, std::u16string_view instance_id);

// A device list's name for its property (18 lower, 17 upper).
std::u16string_view DeviceListName(std::uint32_t property);

// Backups: a list's first repair ever is kept in slot 1 and never written
// again; every later repair writes slot 2. The value is the list's name and
// "_1" or "_2" ("LowerFilters_1").
inline constexpr int kFirstBackup = 1;
inline constexpr int kLatestBackup = 2;
std::u16string BackupValueName(std::u16string_view list, int slot);

// A device's backups lie under the key of its position in Windows' list of
// CD-ROM devices: "SOFTWARE\Kestrow\OrvaneTarvox\BackupDeviceNr<N>".
inline constexpr std::u16string_view kDeviceBackupKeyPrefix =
    u"SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr";
inline constexpr std::u16string_view kDeviceBackupKeyName =
    kDeviceBackupKeyPrefix.substr(kDeviceBackupKeyPrefix.rfind(u'\\') + 1);
// Their parent.
inline constexpr std::u16string_view kDeviceBackupsKey =
    kDeviceBackupKeyPrefix.substr(0, kDeviceBackupKeyPrefix.rfind(u'\\'));
std::u16string DeviceBackupKeyPath(int number);
// N of a subkey name "BackupDeviceNr<N>" (letters A to Z folded, at most six
// digits); -1 for any other name.
int DeviceBackupKeyNumber(std::u16string_view name);

}  // namespace tarvox
