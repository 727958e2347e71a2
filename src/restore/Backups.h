// What a restore sees on the machine: every list a repair judges, as it is
// now, and every backup a repair wrote of one, with the list it belongs to.
// Key lists keep their backups beside them; a device's backups lie under
// "SOFTWARE\Kestrow\OrvaneTarvox\BackupDeviceNr<N>", N being the device's
// position when the backup was written, with the device they came from and
// when they were written beside them, tied to them by a record (see
// repair/DeviceBackupRecord.h; backups of older versions have neither).
// Reading changes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace tarvox::restore {

// A list a repair judges: a key's value, or a present device's property.
struct Site {
  std::u16string key;        // the key's path below HKLM; empty for a device
  std::u16string list;       // "LowerFilters" or "UpperFilters"
  std::u16string device_id;  // the device's instance id
  int position = -1;         // the device's position in Windows' list
  std::uint32_t property = 0;

  bool device() const { return key.empty(); }
};

// A list as it is now, as Windows reads it.
struct CurrentList {
  // Why it cannot be read, when it cannot (its key is missing, refused,
  // or it is larger than a list buffer); a missing value is an empty list.
  std::optional<Status> not_read;
  // Empty when it is stored as nothing but its names, in the layout a
  // repair writes (or not stored at all): a name can be put back without
  // losing anything. Else how it is stored, for the name to be put back by
  // hand: a single string, another type, data after the list's end.
  std::u16string not_plain;
  std::vector<std::u16string> names;

  bool plain() const { return not_plain.empty(); }
};

// A backup a repair wrote.
struct Backup {
  std::u16string key;    // where it is stored, below HKLM
  std::u16string value;  // "LowerFilters_1" and so on
  std::u16string list;   // the list it is a backup of
  int slot = 1;          // 1: the first repair's; 2: the latest repair's
  int number = -1;       // N of BackupDeviceNr<N>; -1 beside a key list
  std::optional<std::u16string> device_id;  // recorded beside it, and tied to it
  std::u16string written;  // when, in UTC, as its record says; empty: not known
  std::optional<Status> not_read;
  std::vector<std::u16string> names;  // as Windows reads them
  int site = -1;         // the site it belongs to, when it is known
  std::u16string unmatched;  // why a device backup belongs to no site
};

// A key where backups may be that could not be opened or listed.
struct Unreadable {
  std::u16string key;  // below HKLM
  Status error = 0;
};

struct MachineLists {
  std::vector<Site> sites;
  std::vector<CurrentList> now;  // one for each site
  std::vector<Backup> backups;
  std::vector<Unreadable> unreadable;
  int devices = 0;               // CD-ROM devices present
};

// Whether backup `a` was written after `b`, as far as can be known: a
// dated backup after any undated one, the later time first; then (equal or
// undated) a "_2" after a "_1", which a repair writes only once a "_1" is
// there; then the one at the lower position, as nothing tells more.
bool WrittenAfter(const Backup& a, const Backup& b);

// The latest backup of `site` for which `wanted` holds; -1 when none.
template <typename Wanted>
int LatestBackup(const MachineLists& lists, int site, Wanted wanted) {
  int latest = -1;
  for (std::size_t at = 0; at < lists.backups.size(); ++at) {
    const Backup& backup = lists.backups[at];
    if (backup.site == site && wanted(backup) &&
        (latest < 0 || WrittenAfter(backup, lists.backups[static_cast<std::size_t>(latest)]))) {
      latest = static_cast<int>(at);
    }
  }
  return latest;
}

// Every list and every backup, in the repair's order: the class key's, the
// critical-device entry's, then each device's, lower list before upper.
MachineLists LookAtLists(Platform& os);

// The list of `site` as it is now.
CurrentList ReadSite(Platform& os, const Site& site);

// The list as REG_MULTI_SZ data: each name and its NUL, then the closing NUL.
std::u16string ListUnits(const std::vector<std::u16string>& names);

// Whether the list `names` fits what a list may hold (a repair's list
// buffer).
bool FitsAList(const std::vector<std::u16string>& names);

// Whether `names` holds `name` (letters A to Z folded).
bool Holds(const std::vector<std::u16string>& names, std::u16string_view name);

}  // namespace tarvox::restore
