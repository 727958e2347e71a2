// What a restore sees on the machine: every list a repair judges, as it is
// now, and every backup a repair wrote of one, with the list it belongs to.
// Key lists keep their backups beside them; a device's backups lie under
// "SOFTWARE\Kestrow\OrvaneTarvox\BackupDeviceNr<N>", N being the device's
// position when the backup was written, and name the device beside them
// (backups written before that name none). Reading changes nothing.
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
  // Stored as nothing but its names, in the layout a repair writes (or not
  // stored at all): a name can be put back without losing anything.
  bool plain = true;
  std::vector<std::u16string> names;
};

// A backup a repair wrote.
struct Backup {
  std::u16string key;    // where it is stored, below HKLM
  std::u16string value;  // "LowerFilters_1" and so on
  std::u16string list;   // the list it is a backup of
  int slot = 1;          // 1: the first repair's; 2: the latest repair's
  int number = -1;       // N of BackupDeviceNr<N>; -1 beside a key list
  std::optional<std::u16string> device_id;  // recorded beside it
  std::optional<Status> not_read;
  std::vector<std::u16string> names;  // as Windows reads them
  int site = -1;         // the site it belongs to, when it is known
  std::u16string unmatched;  // why a device backup belongs to no site
};

struct MachineLists {
  std::vector<Site> sites;
  std::vector<CurrentList> now;  // one for each site
  std::vector<Backup> backups;
  int devices = 0;               // CD-ROM devices present
};

// Every list and every backup, in the repair's order: the class key's, the
// critical-device entry's, then each device's, lower list before upper.
MachineLists LookAtLists(Platform& os);

// The list of `site` as it is now.
CurrentList ReadSite(Platform& os, const Site& site);

// The list as REG_MULTI_SZ data: each name and its NUL, then the closing NUL.
std::u16string ListUnits(const std::vector<std::u16string>& names);

// Whether `names` holds `name` (letters A to Z folded).
bool Holds(const std::vector<std::u16string>& names, std::u16string_view name);

}  // namespace tarvox::restore
