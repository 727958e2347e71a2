#include "restore/Backups.h"

#include <algorithm>
#include <cstring>

#include "multisz/Names.h"
#include "platform/RegKey.h"
#include "repair/DeviceBackupRecord.h"
#include "repair/DeviceFilters.h"
#include "repair/FilterList.h"
#include "repair/KeyFilterList.h"
#include "repair/Places.h"

namespace tarvox::restore {
namespace {


// A value read as a repair reads a list. 2 or 13 (no such value or
// property) is an empty list.
struct Read {
  bool absent = false;
  std::optional<Status> not_read;
  ListAsRead value;
};

Read AsList(Status status, ListAsRead&& value) {
  Read read;
  read.absent = status == win::kFileNotFound || status == win::kInvalidData;
  if (read.absent) return read;
  if (status != win::kSuccess) {
    read.not_read = status;
    return read;
  }
  SingleStringToList(&value);
  read.value = std::move(value);
  return read;
}

Read ReadValue(const RegKey& key, std::u16string_view name) {
  ListAsRead value;
  value.size = MultiSz::kBytes;
  const Status status =
      QueryValueZeroFill(key, name, &value.type, value.stored.data(), &value.size);
  return AsList(status, std::move(value));
}

std::u16string Number(std::uint32_t number) {
  std::u16string text;
  for (const char digit : std::to_string(number)) text += char16_t(digit);
  return text;
}

// Empty when the data is nothing but the list of its names (trailing NULs
// aside), stored as a list: writing the list with one name more loses
// nothing. Else how it is stored, for a person to put the name back.
std::u16string NotPlain(const ListAsRead& value, const std::vector<std::u16string>& names) {
  constexpr std::u16string_view kByHand = u": put the name back by hand";
  if (value.size == 0) return {};
  switch (value.type) {
    case win::kRegMultiSz: break;
    case win::kRegSz:
      return value.rewrite_drops_data || names.size() != 1
                 ? u"it is a single string (REG_SZ) with data after its name" + std::u16string(kByHand)
                 : u"it is a single string (REG_SZ) holding one name, not a list" +
                       std::u16string(kByHand);
    case win::kRegExpandSz:
      return u"it is an expandable string (REG_EXPAND_SZ), not a list" + std::u16string(kByHand);
    default:
      return u"it is data of type " + Number(value.type) + u", not a list" + std::u16string(kByHand);
  }
  const std::u16string units = ListUnits(names);
  const auto* stored = static_cast<const char*>(value.stored.data());
  std::string bytes(stored, std::min<std::size_t>(value.size, MultiSz::kBytes));
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  std::string expected(reinterpret_cast<const char*>(units.data()), units.size() * 2);
  while (!expected.empty() && expected.back() == '\0') expected.pop_back();
  return bytes == expected ? std::u16string()
                           : u"its list holds data after its end" + std::u16string(kByHand);
}

CurrentList Current(const Read& read) {
  CurrentList list;
  list.not_read = read.not_read;
  if (read.not_read) return list;
  list.names = MultiSzEntries(read.value.list);
  list.not_plain = NotPlain(read.value, list.names);
  return list;
}

CurrentList ReadProperty(Platform& os, DeviceSetHandle set, std::uint32_t index,
                         std::uint32_t property) {
  ListAsRead value;
  const Status status = os.GetDeviceProperty(set, index, property, &value.type,
                                             value.stored.data(), MultiSz::kBytes, &value.size);
  return Current(AsList(status, std::move(value)));
}

Backup BackupFrom(const Read& read, Backup backup) {
  backup.not_read = read.not_read;
  if (!read.not_read) backup.names = MultiSzEntries(read.value.list);
  return backup;
}

void AddKeyList(Platform& os, std::u16string_view path, std::u16string_view list,
                MachineLists* lists) {
  RegKey key(os);
  const Status opened = key.Open(path, win::kKeyQueryValue);
  // A key that is not there holds no backups; one that cannot be opened may.
  const bool told = std::any_of(lists->unreadable.begin(), lists->unreadable.end(),
                                [&](const Unreadable& at) { return at.key == path; });
  if (opened != win::kSuccess && opened != win::kFileNotFound && !told) {
    lists->unreadable.push_back({std::u16string(path), opened});
  }
  const int site = static_cast<int>(lists->sites.size());
  lists->sites.push_back({std::u16string(path), std::u16string(list), {}, -1, 0});
  if (opened != win::kSuccess) {
    lists->now.push_back({opened, {}, {}});
    return;
  }
  lists->now.push_back(Current(ReadValue(key, list)));
  for (const int slot : {kFirstBackup, kLatestBackup}) {
    const std::u16string value = BackupValueName(list, slot);
    const Read read = ReadValue(key, value);
    if (read.absent) continue;
    lists->backups.push_back(BackupFrom(
        read, {std::u16string(path), value, std::u16string(list), slot, -1, {}, {}, {}, {}, site, {}}));
  }
}

void AddDevices(Platform& os, MachineLists* lists) {
  const CdromDeviceSet set(os);
  for (DeviceEnumerator devices(os, set.get()); devices.status() == DeviceEnumerator::kOnDevice;
       devices.Step()) {
    std::u16string id;
    os.DeviceInstanceId(devices.set(), devices.index(), &id);
    for (const RepairPlace& place : kRepairPlaces) {
      if (place.kind != PlaceKind::kDeviceList) continue;
      const Site site{{}, std::u16string(place.list), id, static_cast<int>(devices.index()),
                      place.property};
      lists->now.push_back(ReadProperty(os, devices.set(), devices.index(), site.property));
      lists->sites.push_back(site);
    }
    ++lists->devices;
  }
}

// The device site a device backup belongs to: the device it names, or, for
// one that names none, the device at its position when that is the only
// CD-ROM device (with more, which one it came from cannot be told). A
// device value beside it that is no device name is no evidence, and such a
// backup is not matched by its position either.
void Match(MachineLists* lists, const DeviceBackupEvidence& evidence, Backup* backup) {
  using Device = DeviceBackupEvidence::Device;
  if (evidence.device == Device::kUnreadable) {
    backup->unmatched = evidence.why + u": which device it came from cannot be told";
    return;
  }
  for (std::size_t at = 0; at < lists->sites.size(); ++at) {
    const Site& site = lists->sites[at];
    if (!site.device() || !SameName(site.list, backup->list)) continue;
    const bool same = backup->device_id ? SameName(site.device_id, *backup->device_id)
                                        : lists->devices == 1 && site.position == backup->number;
    if (same) {
      backup->site = static_cast<int>(at);
      return;
    }
  }
  const std::u16string origin =
      evidence.why.empty() ? u"written before backups named their device"
                           : evidence.why + u" (replaced since, by an older version or by hand)";
  if (backup->device_id) {
    backup->unmatched = u"its device, " + *backup->device_id + u", is not present";
  } else if (lists->devices == 1) {
    backup->unmatched = origin + u", at a position where no device is now";
  } else {
    backup->unmatched = origin + u"; with more than one CD-ROM device, which one it came from "
                                 u"cannot be told";
  }
}

void AddDeviceBackups(Platform& os, MachineLists* lists) {
  RegKey parent(os);
  if (const Status opened = parent.Open(kDeviceBackupsKey, win::kKeyEnumerateSubKeys)) {
    if (opened != win::kFileNotFound) lists->unreadable.push_back({std::u16string(kDeviceBackupsKey), opened});
    return;
  }
  std::vector<std::pair<int, std::u16string>> keys;
  for (std::uint32_t index = 0;; ++index) {
    char16_t name[256] = {};
    std::uint32_t length = std::size(name);
    const Status status = parent.EnumKey(index, name, &length);
    if (status == win::kMoreData) continue;  // a name longer than any backup key's
    if (status == win::kNoMoreItems) break;
    if (status != win::kSuccess) {
      lists->unreadable.push_back({std::u16string(kDeviceBackupsKey), status});
      break;
    }
    const std::u16string_view found(name, std::min<std::size_t>(length, std::size(name) - 1));
    if (const int number = DeviceBackupKeyNumber(found); number >= 0) {
      keys.emplace_back(number, std::u16string(kDeviceBackupsKey) + u"\\" + std::u16string(found));
    }
  }
  std::sort(keys.begin(), keys.end());
  for (const auto& [number, path] : keys) {
    RegKey key(os);
    if (const Status opened = key.Open(path, win::kKeyQueryValue)) {
      lists->unreadable.push_back({path, opened});
      continue;
    }
    for (const RepairPlace& place : kRepairPlaces) {
      if (place.kind != PlaceKind::kDeviceList) continue;
      const std::u16string list(place.list);
      for (const int slot : {kFirstBackup, kLatestBackup}) {
        const std::u16string value = BackupValueName(list, slot);
        const Read read = ReadValue(key, value);
        if (read.absent) continue;
        const DeviceBackupEvidence evidence = ReadDeviceBackupEvidence(key, value);
        Backup backup = BackupFrom(read, {path, value, std::u16string(list), slot, number,
                                          {}, {}, {}, {}, -1, {}});
        if (evidence.device == DeviceBackupEvidence::Device::kNamed) {
          backup.device_id = evidence.device_id;
        }
        if (evidence.record == DeviceBackupEvidence::Record::kMatches) {
          backup.written = evidence.written;
        }
        Match(lists, evidence, &backup);
        lists->backups.push_back(std::move(backup));
      }
    }
  }
}

}  // namespace

std::u16string ListUnits(const std::vector<std::u16string>& names) {
  std::u16string units;
  for (const auto& name : names) units += name + u'\0';
  return units + u'\0';
}

bool FitsAList(const std::vector<std::u16string>& names) {
  return ListUnits(names).size() * 2 <= MultiSz::kBytes;
}

bool WrittenAfter(const Backup& a, const Backup& b) {
  if (a.written.empty() != b.written.empty()) return b.written.empty();
  if (a.written != b.written) return a.written > b.written;  // ISO 8601, one length
  if (a.slot != b.slot) return a.slot > b.slot;
  return a.number < b.number;
}

bool Holds(const std::vector<std::u16string>& names, std::u16string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::u16string& held) { return SameName(held, name); });
}

CurrentList ReadSite(Platform& os, const Site& site) {
  if (!site.device()) {
    RegKey key(os);
    if (const Status opened = key.Open(site.key, win::kKeyQueryValue)) {
      return {opened, {}, {}};
    }
    return Current(ReadValue(key, site.list));
  }
  // The device as it is found now: positions change as devices come and go.
  const CdromDeviceSet set(os);
  for (DeviceEnumerator devices(os, set.get()); devices.status() == DeviceEnumerator::kOnDevice;
       devices.Step()) {
    std::u16string id;
    if (os.DeviceInstanceId(devices.set(), devices.index(), &id) != win::kSuccess ||
        !SameName(id, site.device_id)) {
      continue;
    }
    return ReadProperty(os, devices.set(), devices.index(), site.property);
  }
  return {win::kFileNotFound, {}, {}};
}

MachineLists LookAtLists(Platform& os) {
  MachineLists lists;
  for (const RepairPlace& place : kRepairPlaces) {
    if (place.kind == PlaceKind::kKeyList) AddKeyList(os, place.key->path, place.list, &lists);
  }
  AddDevices(os, &lists);
  AddDeviceBackups(os, &lists);
  return lists;
}

}  // namespace tarvox::restore
