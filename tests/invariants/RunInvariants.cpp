#include "invariants/RunInvariants.h"

#include "invariants/StoredValues.h"

#include <algorithm>
#include <cstring>

#include "multisz/MultiSz.h"
#include "multisz/Names.h"
#include "support/memory/MemoryFold.h"
#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
#include "repair/KeyFilterList.h"
#include "services/DriverFile.h"

namespace tarvox::invariants {

std::string Narrow(std::u16string_view text) {
  std::string narrow;
  for (const char16_t unit : text) narrow += unit < 0x80 ? char(unit) : '?';
  return narrow;
}

namespace {

constexpr std::u16string_view kServices = u"SYSTEM\\CurrentControlSet\\Services\\";

// What the registry and the file system say when there is nothing at a
// place: the only answers that may cost a name.
bool ReportsAbsence(Status status) {
  for (const Status absent : {2u, 3u, 15u, 123u, 161u, 267u}) {
    if (status == absent) return true;
  }
  return false;
}

// The subkeys right below the Services key, as spelled.
std::vector<std::u16string> ServiceNames(const MemoryPlatform& machine) {
  std::vector<std::u16string> names;
  const std::u16string root = Fold(kServices);
  for (const auto& key : machine.AllKeys()) {
    const std::u16string folded = Fold(key) + u"\\";
    if (!folded.starts_with(root) || folded.size() <= root.size()) continue;
    const std::u16string name = key.substr(root.size());
    if (name.find(u'\\') == std::u16string::npos) names.push_back(name);
  }
  return names;
}

// Whether the value `name` of `key` is a first backup of `list`, which no
// run may write again: "<list>_1" beside a key list; in a device backup key
// every value whose name holds it in any letter case ("lowerfilters_1.old"
// too: the repair takes it for one, and writes no other first backup there).
bool IsFirstBackup(std::u16string_view key, std::u16string_view name, std::u16string_view list) {
  const std::u16string first = FoldAz(BackupValueName(list, kFirstBackup));
  if (Fold(key).starts_with(Fold(kDeviceBackupKeyPrefix))) {
    return FoldAz(name).find(first) != std::u16string::npos;
  }
  return FoldAz(name) == first;
}

}  // namespace

RunSnapshot::RunSnapshot(const MemoryPlatform& machine,
                         std::vector<std::u16string> devices)
    : services_(ServiceNames(machine)),
      values_(ValuesOf(machine)),
      files_(FilesOf(machine)) {
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
  for (const auto& [path, bytes] : machine.AllFileBytes()) files[Fold(path)] = bytes;
  return files;
}

std::set<std::u16string> RunSnapshot::NamesThatMustStay(
    MemoryPlatform& machine, std::u16string_view windows_folder) {
  std::set<std::u16string> must_stay;
  const Values values = ValuesOf(machine);
  for (const auto& name : ServiceNames(machine)) {
    // No key can have a longer name: Windows would say there is none.
    if (name.size() > 255) continue;
    const std::u16string key = std::u16string(kServices) + name;
    const auto value = [&](std::u16string_view value_name) {
      return Find(values, key, value_name);
    };
    // A key that cannot be read tells nothing about its service.
    if ((machine.DeniedAccess(key) & win::kKeyQueryValue) != 0) {
      must_stay.insert(FoldAz(name));
      continue;
    }
    const std::optional<Stored> start = value(u"Start");
    std::uint32_t number = 0;
    if (!start || start->bytes.size() != 4) continue;
    std::memcpy(&number, start->bytes.data(), 4);
    if (number > 3) continue;
    const std::optional<Stored> image = value(u"ImagePath");
    if (image && image->bytes.size() > 520) {
      must_stay.insert(FoldAz(name));  // not judged by its file
      continue;
    }
    const DriverFileLocation driver =
        LocateDriverFile(image ? TextOf(*image) : u"", name, windows_folder);
    if (driver.form == ImagePathForm::kUnknown ||
        !ReportsAbsence(machine.FindPath(LoaderPath(driver.path)))) {
      must_stay.insert(FoldAz(name));
    }
  }
  return must_stay;
}

std::u16string RunSnapshot::BackupKeyOf(const Place& place) {
  return place.device ? DeviceBackupKeyPath(place.number) : place.key;
}

bool RunSnapshot::HeldFirstBackup(const Place& place) const {
  const std::u16string key = Fold(BackupKeyOf(place));
  for (const auto& [at, held] : values_) {
    if (at.first == key && IsFirstBackup(key, held.name, place.name)) return true;
  }
  return false;
}

std::string RunSnapshot::CheckBackupTold(const Place& place, const Values& after,
                                         const testing::RecordedRun& run,
                                         bool operation_failed,
                                         std::optional<std::u16string>* told) const {
  const std::string where = Narrow(place.key) + " " + Narrow(place.name) + ": ";
  const std::u16string key = BackupKeyOf(place);
  const std::u16string first = BackupValueName(place.name, kFirstBackup);
  const std::u16string latest = BackupValueName(place.name, kLatestBackup);
  for (const testing::RecordedRun::Done& done : run.Of(RunEvent::Kind::kBackupWritten)) {
    const bool here = place.device ? done.place.key.empty() && done.place.device == place.number
                                   : Fold(done.place.key) == Fold(place.key);
    if (!here || Fold(done.place.value) != Fold(place.name)) continue;
    if (Fold(done.event.where) != Fold(key) ||
        (Fold(done.event.name) != Fold(first) && Fold(done.event.name) != Fold(latest))) {
      return where + "a backup told as written at " + Narrow(done.event.where) + " " +
             Narrow(done.event.name);
    }
    *told = done.event.name;
  }
  // Slot 1 while no first backup is there, slot 2 once one is; with an
  // operation failing, either (a first backup's test that could not tell
  // takes slot 2; one the registry said was not there, slot 1).
  if (*told) {
    const bool in_first = Fold(**told) == Fold(first);
    if (in_first && HeldFirstBackup(place) && !operation_failed) {
      return where + "a backup went to slot 1 where a first backup was";
    }
    if (!in_first && !HeldFirstBackup(place) && !operation_failed) {
      return where + "a backup went to slot 2 where no first backup was";
    }
  }
  // No backup is written without being told.
  for (const auto& slot : {first, latest}) {
    if (!Same(Find(values_, key, slot), Find(after, key, slot)) &&
        !(*told && Fold(**told) == Fold(slot))) {
      return where + "backup " + Narrow(slot) + " written, but the run did not tell it";
    }
  }
  return "";
}

std::string RunSnapshot::CheckPlace(const Place& place, const Values& after,
                                    const testing::RecordedRun& run,
                                    const std::set<std::u16string>* must_stay,
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
  // list's own write may then have failed); if written, it is the value as
  // it was read, exactly.
  std::optional<std::u16string> told;
  if (std::string broken = CheckBackupTold(place, after, run, operation_failed, &told);
      !broken.empty()) {
    return broken;
  }
  const std::u16string backup_key = BackupKeyOf(place);
  const std::u16string backup_name =
      told.value_or(BackupValueName(place.name, kFirstBackup));
  const std::optional<Stored> backup_before = Find(values_, backup_key, backup_name);
  const std::optional<Stored> backup_now = Find(after, backup_key, backup_name);
  const bool backed_up = told.has_value();
  if (backed_up) {
    if (!Same(before, backup_now)) {
      return where + "backup " + Narrow(backup_name) + " is not the value as read";
    }
    accounted->insert({Fold(backup_key), Fold(backup_name)});
  }
  // Beside a device backup written now, the device it came from and the
  // record that ties the two together.
  if (place.device) {
    const std::u16string id_name = DeviceBackupIdValueName(backup_name);
    const std::u16string record_name = DeviceBackupWrittenValueName(backup_name);
    const std::optional<Stored> id_now = Find(after, backup_key, id_name);
    const std::optional<Stored> record_now = Find(after, backup_key, record_name);
    const bool id_changed = !Same(Find(values_, backup_key, id_name), id_now);
    const bool record_changed = !Same(Find(values_, backup_key, record_name), record_now);
    if (id_changed || record_changed) {
      constexpr std::u16string_view kEnum = u"SYSTEM\\CurrentControlSet\\Enum\\";
      const auto as_stored = [](const std::optional<Stored>& value) {
        return value ? std::optional<StoredValue>(StoredValue{value->type, value->bytes})
                     : std::nullopt;
      };
      const DeviceBackupEvidence evidence =
          JudgeDeviceBackup(as_stored(backup_now), as_stored(id_now), as_stored(record_now));
      // (Its instance id not known, it names none; a value beside it that
      // Windows refused leaves a record that does not match, and then too
      // it names none.)
      const bool named_so = evidence.device == DeviceBackupEvidence::Device::kNone ||
                            (evidence.device == DeviceBackupEvidence::Device::kNamed &&
                             Fold(evidence.device_id) == Fold(place.key.substr(kEnum.size())));
      const bool recorded =
          operation_failed || evidence.record == DeviceBackupEvidence::Record::kMatches;
      if (!backed_up || !recorded || !named_so) {
        return where + "the device named beside its backup is not this one";
      }
      accounted->insert({Fold(backup_key), Fold(id_name)});
      accounted->insert({Fold(backup_key), Fold(record_name)});
    }
  }
  const bool kept_somewhere = backed_up || Same(backup_before, before);
  const std::string lost = where + "changed, but its content as read is kept nowhere";

  if (Same(before, now)) return "";
  if (read.empty()) {
    // Nothing to judge: a device passes it over; an empty key list, or a
    // single string with no name, may go.
    const bool may_go = !place.device && (before->type == win::kRegMultiSz ||
                                          before->type == win::kRegSz);
    if (!may_go || now) return where + "a value holding no name was changed";
    return RewriteDropsData(*before) && !kept_somewhere ? lost : "";
  }
  if (Same(as_read, now)) {
    // A single string written as the names Windows reads from it.
    return RewriteDropsData(*before) && !kept_somewhere ? lost : "";
  }

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
  if (!kept_somewhere) return lost;
  if (must_stay != nullptr) {
    for (const auto& entry : read) {
      if (must_stay->count(FoldAz(entry)) != 0 &&
          std::find(kept.begin(), kept.end(), entry) == kept.end()) {
        return where + "a name was removed without evidence: " + Narrow(entry);
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

std::string RunSnapshot::CheckLogs(const MemoryPlatform& after, bool logged) const {
  const auto files = FilesOf(after);
  const auto bytes_at = [](const std::map<std::u16string, std::string>& in,
                           const std::u16string& path) -> std::optional<std::string> {
    const auto it = in.find(path);
    if (it == in.end()) return std::nullopt;
    return it->second;
  };
  for (const auto& [path, bytes] : files_) {
    if (!IsLogFile(path)) continue;
    const bool temp = path.ends_with(kTempLog);
    const std::u16string folder =
        path.substr(0, path.size() - (temp ? kTempLog : kFinalLog).size());
    const std::u16string temp_path = folder + std::u16string(kTempLog);
    const std::u16string final_path = folder + std::u16string(kFinalLog);
    const std::string kept = bytes_at(files_, temp_path).value_or("");
    const std::optional<std::string> temp_now = bytes_at(files, temp_path);
    const std::optional<std::string> final_now = bytes_at(files, final_path);
    if (logged == false && bytes_at(files, path) != bytes) {
      return "a run that logged nothing changed " + Narrow(path);
    }
    if (temp && !(temp_now && temp_now->starts_with(kept)) &&
        !(final_now && final_now->starts_with(kept))) {
      return "the lines of an earlier temporary log were lost: " + Narrow(path);
    }
    if (!temp && final_now != bytes &&
        (!final_now || temp_now || !final_now->starts_with(kept))) {
      return "an older log was lost: " + Narrow(path);
    }
  }
  for (const auto& [path, bytes] : files) {
    // A temporary log this run created stays only empty, when it could not
    // be removed.
    if (IsLogFile(path) && files_.count(path) == 0 && !logged && !bytes.empty()) {
      return "a run that logged nothing left " + Narrow(path);
    }
  }
  return "";
}

std::string RunSnapshot::CheckRun(const MemoryPlatform& after,
                                  const testing::RecordedRun& run,
                                  const std::set<std::u16string>* must_stay, bool logged,
                                  const MemoryPlatform::FiredFault* fault) const {
  const bool operation_failed = fault != nullptr;
  const Values now = ValuesOf(after);
  // A first backup is written once, and never again, whatever failed: a
  // "<list>_1" beside a key list, and in a device backup key every value
  // whose name holds it.
  for (const auto& [at, held] : values_) {
    const bool backups_here =
        at.first == Fold(kCdromClassKey) || at.first == Fold(kCdromCriticalDeviceKey) ||
        at.first.starts_with(Fold(kDeviceBackupKeyPrefix));
    const bool first = backups_here && (IsFirstBackup(at.first, held.name, kLowerFilters) ||
                                        IsFirstBackup(at.first, held.name, kUpperFilters));
    // Told by the registry that it is not there, a run may take it for
    // absent; told nothing, never.
    const bool said_absent = fault != nullptr && fault->operation == "QueryValue" &&
                             ReportsAbsence(fault->status) &&
                             Fold(fault->value) == at.first + u"\\" + Fold(held.name);
    const auto it = now.find(at);
    if (first && !said_absent && (it == now.end() || !Same(held.value, it->second.value))) {
      return Narrow(held.name) + " in " + Narrow(at.first) + ": a first backup was written again";
    }
  }
  Accounted accounted;
  for (const Place& place : places_) {
    if (std::string broken =
            CheckPlace(place, now, run, must_stay, operation_failed, &accounted);
        !broken.empty()) {
      return broken;
    }
  }
  if (std::string broken = CheckOthers(after, now, accounted); !broken.empty()) {
    return broken;
  }
  return CheckLogs(after, logged);
}

std::vector<std::set<std::u16string>> RunSnapshot::Removed(
    const MemoryPlatform& after) const {
  const Values now = ValuesOf(after);
  std::vector<std::set<std::u16string>> removed;
  for (const Place& place : places_) {
    std::set<std::u16string>& gone = removed.emplace_back();
    const std::optional<Stored> before = Find(values_, place.key, place.name);
    const std::optional<Stored> value = Find(now, place.key, place.name);
    if (!before || Same(before, value) || before->bytes.size() > MultiSz::kBytes) {
      continue;
    }
    std::set<std::u16string> kept;
    if (value) {
      for (const auto& entry : EntriesOf(Converted(*value))) kept.insert(FoldAz(entry));
    }
    for (const auto& entry : EntriesOf(Converted(*before))) {
      if (kept.count(FoldAz(entry)) == 0) gone.insert(FoldAz(entry));
    }
  }
  return removed;
}

std::string RunSnapshot::CheckFaultCostsNoName(
    const MemoryPlatform& clean, const MemoryPlatform& faulted,
    const MemoryPlatform::FiredFault& fault,
    std::u16string_view windows_folder) const {
  // The names the failing operation was about, when it may cost them.
  std::set<std::u16string> concerned;
  if (ReportsAbsence(fault.status) || fault.operation == "RenameFile") {
    for (const auto& name : services_) {
      const std::u16string key = std::u16string(kServices) + name;
      const std::optional<Stored> image = Find(values_, key, u"ImagePath");
      std::vector<std::u16string> subjects = {key};
      for (const auto& text : {image ? TextOf(*image) : u"", std::u16string()}) {
        const DriverFileLocation driver = LocateDriverFile(text, name, windows_folder);
        // As written, and as the loader opens it.
        for (const auto& path : {driver.path, BackupPathOf(driver.path)}) {
          subjects.push_back(path);
          subjects.push_back(LoaderPath(path));
        }
      }
      for (const auto& subject : subjects) {
        if (Fold(subject) == Fold(fault.subject)) concerned.insert(FoldAz(name));
      }
    }
  }
  const auto without_fault = Removed(clean);
  const auto with_fault = Removed(faulted);
  for (std::size_t n = 0; n < places_.size(); ++n) {
    for (const auto& name : with_fault[n]) {
      if (without_fault[n].count(name) == 0 && concerned.count(name) == 0) {
        return Narrow(places_[n].key) + " " + Narrow(places_[n].name) + ": " +
               fault.operation + " on " + Narrow(fault.subject) + " failing with " +
               std::to_string(fault.status) + " cost " + Narrow(name) +
               ", which the run without it kept";
      }
    }
  }
  return "";
}

std::string RunSnapshot::CheckSecondWriter(const MemoryPlatform& after,
                                           std::u16string_view key,
                                           std::u16string_view name, const Stored& written,
                                           std::u16string_view theirs,
                                           bool unseeable) const {
  const Values now = ValuesOf(after);
  const std::string where = Narrow(key) + " " + Narrow(name) + ": ";
  if (!unseeable) {
    const std::optional<Stored> list = Find(now, key, name);
    const std::vector<std::u16string> kept =
        list ? EntriesOf(Converted(*list)) : std::vector<std::u16string>();
    if (!theirs.empty() && std::none_of(kept.begin(), kept.end(), [&](const std::u16string& entry) {
          return FoldAz(entry) == FoldAz(theirs);
        })) {
      return where + "the other program's " + Narrow(theirs) + " was lost";
    }
    // The names left stand in the order the other program gave them.
    if (!IsPruningOf(kept, EntriesOf(written))) return where + "the other program's order was lost";
  }
  for (const Place& place : places_) {
    const std::u16string backup_key = BackupKeyOf(place);
    const bool written_here = Fold(place.key) == Fold(key) && Fold(place.name) == Fold(name);
    for (const int slot : {kFirstBackup, kLatestBackup}) {
      const std::u16string backup = BackupValueName(place.name, slot);
      const std::optional<Stored> is = Find(now, backup_key, backup);
      if (Same(Find(values_, backup_key, backup), is)) continue;
      if (!Same(is, Find(values_, place.key, place.name)) &&
          !(written_here && Same(is, written))) {
        return Narrow(backup_key) + " " + Narrow(backup) +
               ": a backup holds a value its list never held";
      }
    }
  }
  return "";
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
