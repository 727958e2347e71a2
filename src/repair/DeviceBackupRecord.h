// What is written beside a device backup, and what it proves. A device's
// backups lie under the key of its position, and positions change as
// devices come and go; other writers (an older version of the repair, a
// hand edit, a .reg import) can replace a backup and leave the values
// beside it. So beside each device backup this repair writes:
//   "DeviceOf.<list>.<slot>"  REG_SZ, the device's instance id, and
//   "Written.<list>.<slot>"   REG_SZ, "<UTC time> <fingerprint>": when the
//       backup was written, and a fingerprint of the backup's type and
//       bytes, the device value beside it and that time.
// ('.' stands for '_', so that no "contains LowerFilters_1" test takes
// either for a first backup.) A record that no longer matches what stands
// beside it says the backup is not the one it was written with: then
// neither its device nor its time is evidence. The repair writes these; the
// restore reads them; the rules of both live here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/RegKey.h"
#include "repair/FilterList.h"

namespace tarvox {

inline constexpr std::u16string_view kDeviceBackupIdPrefix = u"DeviceOf.";
inline constexpr std::u16string_view kDeviceBackupWrittenPrefix = u"Written.";

// "DeviceOf.LowerFilters.1" beside "LowerFilters_1".
std::u16string DeviceBackupIdValueName(std::u16string_view backup);
// "Written.LowerFilters.1" beside "LowerFilters_1".
std::u16string DeviceBackupWrittenValueName(std::u16string_view backup);

// The record of a backup written at `iso_time` ("2026-12-09T08:30:00Z"),
// beside `device_of` (none when no device value stands beside it).
std::u16string DeviceBackupRecordText(const StoredValue& backup,
                                      const std::optional<StoredValue>& device_of,
                                      std::string_view iso_time);

// Writes, beside the backup `backup` of `key` just written as `written`,
// the device it came from (a device value left by an earlier backup in that
// slot is removed when the id is not known) and the record. Their failures
// are not the backup's: a backup whose record is missing or does not match
// counts as one that names no device.
void WriteDeviceBackupRecord(const RegKey& key, std::u16string_view backup,
                             const StoredValue& written, std::u16string_view instance_id,
                             const UtcTime& now);

// What the values beside a device backup tell.
struct DeviceBackupEvidence {
  enum class Device {
    kNone,        // no device value: written before backups named one
    kNamed,       // device_id names the device it came from
    kUnreadable,  // a device value that is no device name (why says so)
  };
  Device device = Device::kNone;
  std::u16string device_id;
  std::u16string why;
  enum class Record {
    kNone,      // no record: written before backups had one
    kMatches,   // written says when
    kMismatch,  // the backup, or the device value, is not as written
  };
  Record record = Record::kNone;
  std::u16string written;  // the record's UTC time, when it matches
};

// Instance ids are at most this many units (MAX_DEVICE_ID_LEN).
inline constexpr std::size_t kDeviceIdUnits = 200;

// Judges what stands beside a backup, from the three values as stored
// (`backup` none when it cannot be read: then no record can match;
// `device_error` the device value's read when it failed otherwise than by
// its absence, 234 for one too long to be an id: no evidence). A
// record that matches makes the device value as the repair wrote it; one
// that does not makes the device value no evidence (kNone, as for a backup
// of an older version).
DeviceBackupEvidence JudgeDeviceBackup(const std::optional<StoredValue>& backup,
                                       const std::optional<StoredValue>& device_of,
                                       const std::optional<StoredValue>& record,
                                       Status device_error = 0);

// The same, read from `key`.
DeviceBackupEvidence ReadDeviceBackupEvidence(const RegKey& key, std::u16string_view backup);

}  // namespace tarvox
