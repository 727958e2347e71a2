#include "repair/DeviceBackupRecord.h"

#include <algorithm>
#include <cstdio>

#include "multisz/MultiSz.h"
#include "text/Time.h"

namespace tarvox {
namespace {

std::u16string BesideName(std::u16string_view prefix, std::u16string_view backup) {
  std::u16string name(prefix);
  for (const char16_t unit : backup) name += unit == u'_' ? u'.' : unit;
  return name;
}

// FNV-1a, 64 bits: not a secret, only a check that the values beside a
// backup were written with it. A writer that replaces the backup without
// knowing of the record does not keep it matching.
class Fingerprint {
 public:
  void Add(std::string_view bytes) {
    for (const char byte : bytes) {
      hash_ ^= static_cast<unsigned char>(byte);
      hash_ *= 0x100000001B3ull;
    }
  }
  void Add(std::uint32_t number) {
    char bytes[4];
    for (int at = 0; at < 4; ++at) bytes[at] = static_cast<char>((number >> (8 * at)) & 0xFF);
    Add(std::string_view(bytes, 4));
  }
  void Add(const StoredValue& value) {
    Add(value.type);
    Add(static_cast<std::uint32_t>(value.bytes.size()));
    Add(value.bytes);
  }
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xCBF29CE484222325ull;
};

constexpr std::size_t kIsoTimeUnits = 20;  // "2026-12-09T08:30:00Z"
constexpr std::size_t kRecordUnits = kIsoTimeUnits + 1 + 16;

// A value's stored type and bytes; none when it is not there or cannot be
// read whole into `most` bytes (`*status` says which).
std::optional<StoredValue> ReadStored(const RegKey& key, std::u16string_view name,
                                      std::uint32_t most, Status* status) {
  StoredValue value;
  value.bytes.assign(most, '\0');
  std::uint32_t size = most;
  *status = key.QueryValue(name, &value.type, value.bytes.data(), &size);
  if (*status != win::kSuccess) return std::nullopt;
  value.bytes.resize(std::min(size, most));
  return value;
}

std::u16string Units(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// The text of a REG_SZ value: its units up to the first NUL, and whether
// only NULs follow.
std::u16string TextOf(const StoredValue& value, bool* only_nuls_after) {
  std::u16string units(value.bytes.size() / 2, u'\0');
  for (std::size_t at = 0; at < units.size(); ++at) {
    units[at] = static_cast<char16_t>(static_cast<unsigned char>(value.bytes[2 * at]) |
                                      static_cast<unsigned char>(value.bytes[2 * at + 1]) << 8);
  }
  const std::size_t end = std::min(units.find(u'\0'), units.size());
  *only_nuls_after = value.bytes.size() % 2 == 0 &&
                     std::all_of(units.begin() + static_cast<std::ptrdiff_t>(end), units.end(),
                                 [](char16_t unit) { return unit == u'\0'; });
  return units.substr(0, end);
}

}  // namespace

std::u16string DeviceBackupIdValueName(std::u16string_view backup) {
  return BesideName(kDeviceBackupIdPrefix, backup);
}

std::u16string DeviceBackupWrittenValueName(std::u16string_view backup) {
  return BesideName(kDeviceBackupWrittenPrefix, backup);
}

std::u16string DeviceBackupRecordText(const StoredValue& backup,
                                      const std::optional<StoredValue>& device_of,
                                      std::string_view iso_time) {
  Fingerprint print;
  print.Add(backup);
  print.Add(std::string_view(device_of ? "\1" : "\0", 1));
  if (device_of) print.Add(*device_of);
  print.Add(iso_time);
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(print.value()));
  return Units(iso_time) + u" " + Units(hex);
}

void WriteDeviceBackupRecord(const RegKey& key, std::u16string_view backup,
                             const StoredValue& written, std::u16string_view instance_id,
                             const UtcTime& now) {
  const std::u16string id_name = DeviceBackupIdValueName(backup);
  std::optional<StoredValue> device_of;
  if (!instance_id.empty()) {
    const std::u16string text = std::u16string(instance_id) + u'\0';
    const auto size = static_cast<std::uint32_t>(text.size() * 2);
    device_of = StoredValue{win::kRegSz, std::string(reinterpret_cast<const char*>(text.data()), size)};
    key.SetValue(id_name, win::kRegSz, text.data(), size);
  } else {
    // An earlier backup's device would otherwise stand beside this one.
    key.DeleteValue(id_name);
  }
  // The record is of what was meant to stand beside the backup: should the
  // device value not have been written (or an earlier one not removed), the
  // record does not match it, and the backup names no device.
  const std::u16string record =
      DeviceBackupRecordText(written, device_of, text::IsoTime(now)) + u'\0';
  key.SetValue(DeviceBackupWrittenValueName(backup), win::kRegSz, record.data(),
               static_cast<std::uint32_t>(record.size() * 2));
}

DeviceBackupEvidence JudgeDeviceBackup(const std::optional<StoredValue>& backup,
                                       const std::optional<StoredValue>& device_of,
                                       const std::optional<StoredValue>& record,
                                       Status device_error) {
  DeviceBackupEvidence evidence;
  if (device_error != win::kSuccess && device_error != win::kFileNotFound) {
    evidence.device = DeviceBackupEvidence::Device::kUnreadable;
    evidence.why = u"the device named beside it cannot be read (error " +
                   Units(std::to_string(device_error)) + u")";
  } else if (device_of) {
    bool clean = false;
    const std::u16string id = TextOf(*device_of, &clean);
    if (device_of->type != win::kRegSz) {
      evidence.device = DeviceBackupEvidence::Device::kUnreadable;
      evidence.why = u"the device named beside it is no text (type " +
                     Units(std::to_string(device_of->type)) + u")";
    } else if (id.empty()) {
      evidence.device = DeviceBackupEvidence::Device::kUnreadable;
      evidence.why = u"the device named beside it is empty";
    } else if (id.size() > kDeviceIdUnits || !clean) {
      evidence.device = DeviceBackupEvidence::Device::kUnreadable;
      evidence.why = u"the device named beside it is no device name (too long, or data after "
                     u"its end)";
    } else {
      evidence.device = DeviceBackupEvidence::Device::kNamed;
      evidence.device_id = id;
    }
  }
  if (!record) return evidence;
  evidence.record = DeviceBackupEvidence::Record::kMismatch;
  bool clean = false;
  const std::u16string text = record->type == win::kRegSz ? TextOf(*record, &clean) : u"";
  if (backup && clean && text.size() == kRecordUnits) {
    std::string iso;
    for (std::size_t at = 0; at < kIsoTimeUnits; ++at) {
      iso += text[at] < 0x80 ? static_cast<char>(text[at]) : '?';
    }
    if (DeviceBackupRecordText(*backup, device_of, iso) == text) {
      evidence.record = DeviceBackupEvidence::Record::kMatches;
      evidence.written = text.substr(0, kIsoTimeUnits);
      return evidence;
    }
  }
  // Not the backup it was written with: its device is no evidence. (A
  // device value that is no device name stays such: that backup is not
  // matched by its position either.)
  if (evidence.device == DeviceBackupEvidence::Device::kNamed) {
    evidence.device = DeviceBackupEvidence::Device::kNone;
    evidence.device_id.clear();
    evidence.why = u"it is not the backup its device was named with";
  }
  return evidence;
}

DeviceBackupEvidence ReadDeviceBackupEvidence(const RegKey& key, std::u16string_view backup) {
  // A backup is at most a list buffer; a device value at most an id and its
  // NUL; a record its text and NUL. Anything larger is none of these.
  Status status = 0;
  Status device_error = 0;
  const auto stored = ReadStored(key, backup, MultiSz::kBytes, &status);
  const auto device_of =
      ReadStored(key, DeviceBackupIdValueName(backup), (kDeviceIdUnits + 2) * 2, &device_error);
  const auto record =
      ReadStored(key, DeviceBackupWrittenValueName(backup), (kRecordUnits + 1) * 2, &status);
  return JudgeDeviceBackup(stored, device_of, record, device_error);
}

}  // namespace tarvox
