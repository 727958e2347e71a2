#include "invariants/RunInvariants.h"

#include <algorithm>
#include <cstring>

#include "multisz/MultiSz.h"
#include "multisz/Names.h"
#include "platform/MemoryFold.h"
#include "platform/RunState.h"
#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
#include "repair/KeyFilterList.h"
#include "services/DriverFile.h"

namespace tarvox::invariants {
namespace {

using memory::Fold;
using Stored = MemoryPlatform::StoredValue;

constexpr std::u16string_view kServices = u"SYSTEM\\CurrentControlSet\\Services\\";

std::string Narrow(std::u16string_view text) {
  std::string narrow;
  for (const char16_t unit : text) narrow += unit < 0x80 ? char(unit) : '?';
  return narrow;
}

std::u16string FoldAz(std::u16string_view text) {
  std::u16string folded(text);
  for (auto& unit : folded) unit = FoldAsciiLetter(unit);
  return folded;
}

std::vector<std::u16string> EntriesOf(const Stored& value) {
  MultiSz list;
  std::memcpy(list.data(), value.bytes.data(),
              std::min<std::size_t>(value.bytes.size(), MultiSz::kBytes));
  return MultiSzEntries(list);
}

std::string ListBytes(const std::vector<std::u16string>& entries) {
  std::u16string units;
  for (const auto& entry : entries) units += entry + u'\0';
  units += u'\0';
  return std::string(reinterpret_cast<const char*>(units.data()),
                     units.size() * 2);
}

// What the tool makes of a single string: the one name Windows reads from it.
Stored Converted(const Stored& value) {
  if (value.type != win::kRegSz) return value;
  std::u16string text(std::min<std::size_t>(value.bytes.size() / 2, MultiSz::kUnits),
                      u'\0');
  std::memcpy(text.data(), value.bytes.data(), text.size() * 2);
  text.resize(std::min(text.find(u'\0'), text.size()));
  if (text.empty()) return {win::kRegMultiSz, std::string(4, '\0')};
  return {win::kRegMultiSz, ListBytes({text})};
}

bool Same(const std::optional<Stored>& a, const std::optional<Stored>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->type == b->type && a->bytes == b->bytes);
}

// The entries as read less every spelling of the names that went, in order.
bool IsPruningOf(const std::vector<std::u16string>& kept,
                 const std::vector<std::u16string>& read) {
  std::set<std::u16string> staying;
  for (const auto& entry : kept) staying.insert(FoldAz(entry));
  std::vector<std::u16string> expected;
  for (const auto& entry : read) {
    if (staying.count(FoldAz(entry)) != 0) expected.push_back(entry);
  }
  return expected == kept;
}

bool IsLogFile(std::u16string_view folded_path) {
  return folded_path.ends_with(u"\\tarvoxtmp.log") ||
         folded_path.ends_with(u"\\tarvox.log");
}

}  // namespace

RunSnapshot::RunSnapshot(const MemoryPlatform& machine,
                         std::vector<std::u16string> devices)
    : values_(ValuesOf(machine)), files_(FilesOf(machine)) {
  for (const auto& key : machine.AllKeys()) keys_.insert(Fold(key));
  for (const auto key : {kCdromClassKey, kCdromCriticalDeviceKey}) {
    for (const auto name : {u"LowerFilters", u"UpperFilters"}) {
      places_.push_back({std::u16string(key), name, false, 0});
    }
  }
  for (std::size_t n = 0; n < devices.size(); ++n) {
    for (const auto name : {u"LowerFilters", u"UpperFilters"}) {
      places_.push_back({devices[n], name, true, static_cast<int>(n)});
    }
  }
}

RunSnapshot::Values RunSnapshot::ValuesOf(const MemoryPlatform& machine) {
  Values values;
  for (const auto& at : machine.AllValues()) {
    values[{Fold(at.key), Fold(at.name)}] = {at.name, at.value};
  }
  return values;
}

std::map<std::u16string, std::string> RunSnapshot::FilesOf(
    const MemoryPlatform& machine) {
  std::map<std::u16string, std::string> files;
  for (const auto& path : machine.AllFiles()) {
    files[Fold(path)] = machine.FileBytes(path).value_or("");
  }
  return files;
}

std::set<std::u16string> RunSnapshot::ValidNames(MemoryPlatform& machine) {
  std::set<std::u16string> valid;
  const std::u16string root = Fold(kServices);
  const Values values = ValuesOf(machine);
  for (const auto& key : machine.AllKeys()) {
    const std::u16string folded = Fold(key) + u"\\";
    if (!folded.starts_with(root) || folded.size() <= root.size()) continue;
    const std::u16string name = key.substr(root.size());
    if (name.find(u'\\') != std::u16string::npos) continue;
    const auto value = [&](std::u16string_view value_name) -> const Stored* {
      const auto it = values.find({Fold(key), Fold(value_name)});
      return it == values.end() ? nullptr : &it->second.value;
    };
    const Stored* start = value(u"Start");
    std::uint32_t number = 0;
    if (start == nullptr || start->bytes.size() != 4) continue;
    std::memcpy(&number, start->bytes.data(), 4);
    if (number > 3) continue;
    const Stored* image = value(u"ImagePath");
    if (image != nullptr && image->bytes.size() > 520) {
      valid.insert(FoldAz(name));  // not judged by its file
      continue;
    }
    std::u16string text;
    if (image != nullptr) {
      text.resize(image->bytes.size() / 2);
      std::memcpy(text.data(), image->bytes.data(), text.size() * 2);
      text.resize(std::min(text.find(u'\0'), text.size()));
    }
    const DriverFileLocation driver = LocateDriverFile(text, name, g_systemRoot);
    if (driver.form == ImagePathForm::kUnknown || machine.PathExists(driver.path)) {
      valid.insert(FoldAz(name));
    }
  }
  return valid;
}

namespace {

std::optional<Stored> Find(const RunSnapshot::Values& values,
                           std::u16string_view key, std::u16string_view name) {
  const auto it = values.find({Fold(key), Fold(name)});
  if (it == values.end()) return std::nullopt;
  return it->second.value;
}

}  // namespace

// Key lists: "_1" beside the list unless a "_1" of any size is there, then
// "_2". Device lists: under the key of the device's position, "_1" unless
// some value name there holds "<list>_1" as written, then "_2".
std::pair<std::u16string, std::u16string> RunSnapshot::BackupOf(
    const Place& place) const {
  const std::u16string first = place.name + u"_1";
  const std::u16string latest = place.name + u"_2";
  if (!place.device) {
    return {place.key, Find(values_, place.key, first) ? latest : first};
  }
  std::u16string key(kDeviceBackupKeyPrefix);
  for (const char digit : std::to_string(place.number)) key += char16_t(digit);
  for (const auto& [at, held] : values_) {
    if (at.first == Fold(key) && held.name.find(first) != std::u16string::npos) {
      return {key, latest};
    }
  }
  return {key, first};
}

std::string RunSnapshot::CheckPlace(const Place& place, const Values& after,
                                    const std::set<std::u16string>* valid_names,
                                    bool operation_failed,
                                    Accounted* accounted) const {
  const std::string where = Narrow(place.key) + " " + Narrow(place.name) + ": ";
  const std::optional<Stored> before = Find(values_, place.key, place.name);
  const std::optional<Stored> now = Find(after, place.key, place.name);
  accounted->insert({Fold(place.key), Fold(place.name)});
  if (!before) return now ? where + "appeared" : "";
  if (before->bytes.size() > MultiSz::kBytes) {
    return Same(before, now) ? "" : where + "a value over 2048 bytes changed";
  }
  const Stored as_read = Converted(*before);
  const std::vector<std::u16string> read = EntriesOf(as_read);

  // A backup may have been written whenever there was a list to judge (the
  // list's own write may then have failed); if written, it is the list as
  // read, exactly.
  auto [backup_key, backup_name] = BackupOf(place);
  if (operation_failed) {
    // Whichever slot the run wrote.
    for (const auto slot : {u"_1", u"_2"}) {
      const std::u16string name = place.name + slot;
      if (!Same(Find(values_, backup_key, name), Find(after, backup_key, name))) {
        backup_name = name;
      }
    }
  }
  const std::optional<Stored> backup_before = Find(values_, backup_key, backup_name);
  const std::optional<Stored> backup_now = Find(after, backup_key, backup_name);
  const bool backed_up = !Same(backup_before, backup_now);
  if (backed_up) {
    if (read.empty() || !Same(as_read, backup_now)) {
      return where + "backup " + Narrow(backup_name) + " is not the list as read";
    }
    accounted->insert({Fold(backup_key), Fold(backup_name)});
  }

  if (read.empty()) {
    // Nothing to judge: a device skips it; an empty key list may go.
    const bool may_go = !place.device && as_read.type == win::kRegMultiSz;
    if (Same(before, now) || (may_go && (!now || Same(as_read, now)))) return "";
    return where + "an empty list was changed";
  }
  if (Same(before, now) || Same(as_read, now)) return "";

  std::vector<std::u16string> kept;
  if (now) {
    if (now->type != win::kRegMultiSz) return where + "pruned list is not a list";
    kept = EntriesOf(*now);
    if (kept.empty() || now->bytes != ListBytes(kept)) {
      return where + "pruned list is not well formed";
    }
  }
  if (kept == read || !IsPruningOf(kept, read)) {
    return where + "not the list as read less some names";
  }
  if (!backed_up && !Same(backup_before, as_read)) {
    return where + "changed, but its content as read is kept nowhere";
  }
  if (valid_names != nullptr) {
    for (const auto& entry : read) {
      if (valid_names->count(FoldAz(entry)) != 0 &&
          std::find(kept.begin(), kept.end(), entry) == kept.end()) {
        return where + "a valid name was removed: " + Narrow(entry);
      }
    }
  }
  return "";
}

std::string RunSnapshot::CheckOthers(const MemoryPlatform& after,
                                     const Values& now,
                                     const Accounted& accounted) const {
  const std::pair<std::u16string, std::u16string> co_installer = {
      Fold(kCoDeviceInstallersKey), Fold(kCdromClassGuid)};
  std::set<std::pair<std::u16string, std::u16string>> all;
  for (const auto& [at, _] : values_) all.insert(at);
  for (const auto& [at, _] : now) all.insert(at);
  for (const auto& at : all) {
    if (accounted.count(at) != 0) continue;
    const auto a = values_.find(at);
    const auto b = now.find(at);
    const std::optional<Stored> x =
        a == values_.end() ? std::nullopt : std::optional<Stored>(a->second.value);
    const std::optional<Stored> y =
        b == now.end() ? std::nullopt : std::optional<Stored>(b->second.value);
    if (Same(x, y)) continue;
    if (at == co_installer && x && y && y->type == win::kRegMultiSz) {
      const auto kept = EntriesOf(*y);
      const bool formed = y->bytes == ListBytes(kept) ||
                          (kept.empty() && y->bytes == std::string(4, '\0'));
      if (formed && IsPruningOf(kept, EntriesOf(*x)) && kept != EntriesOf(*x)) continue;
    }
    return "changed where no check may: " + Narrow(at.first) + " " + Narrow(at.second);
  }
  for (const auto& key : after.AllKeys()) {
    // The device backups' keys, and the keys along their path.
    const std::u16string backups = Fold(kDeviceBackupKeyPrefix);
    if (keys_.count(Fold(key)) == 0 &&
        !(Fold(key).starts_with(backups) ||
          backups.starts_with(Fold(key) + u"\\"))) {
      return "key created: " + Narrow(key);
    }
  }

  const auto files = FilesOf(after);
  for (const auto& [path, bytes] : files) {
    if (IsLogFile(path)) continue;
    const auto it = files_.find(path);
    if (it != files_.end()) {
      if (it->second != bytes) return "file rewritten: " + Narrow(path);
      continue;
    }
    // A driver restored: its ".bak" copy took its name.
    const auto copy = files_.find(Fold(BackupPathOf(path)));
    if (copy == files_.end() || copy->second != bytes || files.count(copy->first) != 0) {
      return "file created: " + Narrow(path);
    }
  }
  for (const auto& [path, _] : files_) {
    if (IsLogFile(path) || files.count(path) != 0) continue;
    bool restored = false;
    for (const auto& [now_path, __] : files) {
      restored = restored || (files_.count(now_path) == 0 &&
                              Fold(BackupPathOf(now_path)) == path);
    }
    if (!restored) return "file removed: " + Narrow(path);
  }
  return "";
}

std::string RunSnapshot::CheckRun(const MemoryPlatform& after,
                                  const std::set<std::u16string>* valid_names,
                                  bool operation_failed) const {
  const Values now = ValuesOf(after);
  Accounted accounted;
  for (const Place& place : places_) {
    if (std::string broken =
            CheckPlace(place, now, valid_names, operation_failed, &accounted);
        !broken.empty()) {
      return broken;
    }
  }
  return CheckOthers(after, now, accounted);
}

std::string RunSnapshot::CheckNothingRepaired(const MemoryPlatform& after) const {
  const Values now = ValuesOf(after);
  for (const Place& place : places_) {
    if (!Same(Find(values_, place.key, place.name), Find(now, place.key, place.name))) {
      return Narrow(place.key) + " " + Narrow(place.name) + " changed again";
    }
  }
  const auto files = FilesOf(after);
  for (const auto& [path, bytes] : files_) {
    if (IsLogFile(path)) continue;
    const auto it = files.find(path);
    if (it == files.end() || it->second != bytes) return "file changed again: " + Narrow(path);
  }
  for (const auto& [path, _] : files) {
    if (!IsLogFile(path) && files_.count(path) == 0) return "file created again: " + Narrow(path);
  }
  return "";
}

}  // namespace tarvox::invariants
