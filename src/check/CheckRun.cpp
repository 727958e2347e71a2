#include "check/CheckRun.h"

#include <algorithm>
#include <cstring>

#include "log/RunLog.h"
#include "multisz/MultiSz.h"
#include "multisz/Names.h"
#include "platform/RunState.h"
#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
#include "repair/Places.h"
#include "repair/RepairChecks.h"
#include "repair/RunContext.h"
#include "services/Verdict.h"

namespace tarvox::check {
namespace {

using Change = OverlayPlatform::Change;

std::u16string Number(std::uint32_t number) {
  std::u16string text;
  for (const char digit : std::to_string(number)) text += char16_t(digit);
  return text;
}

std::u16string Error(Status status) { return u"error " + Number(status); }

// Why the driver file does not settle a name, or why it removes it, in the
// words of what a repair would do, with the path and the error where a
// support engineer must look.
std::u16string DriverFileReason(const DriverFileFinding& file, int driver) {
  if (!file.image_path_read) {
    return u"its ImagePath cannot be read whole (" + Error(file.image_path_error) + u")";
  }
  if (file.form == ImagePathForm::kUnknown) {
    return u"its driver lies where it cannot be looked for (ImagePath \"" + file.image_path +
           u"\")";
  }
  if (file.present == kCannotTell) {
    return u"its driver file " + file.path + u" cannot be seen (" + Error(file.look) + u")";
  }
  if (file.present == 1) return {};
  const std::u16string missing = u"driver file missing" + LoaderReadsOtherwise(file.path);
  if (driver == 1) return missing + u": a repair restores it from its .bak copy";
  if (driver == kCannotTell) {
    return missing + u", but a repair would find a file in its place (" +
           Error(file.restore.rename) + u")";
  }
  if (file.restore.backup_missing) {
    return missing + u", and no .bak copy for a repair to restore it from";
  }
  return missing + u", and a repair cannot restore its .bak copy (" +
         Error(file.restore.rename) + u")";
}

std::u16string StartTypeReason(const StartTypeFinding& start) {
  if (!start.there) return u"no start type";
  if (start.size != 4) return u"start type of " + Number(start.size) + u" bytes";
  return u"start type " + Number(start.number) + (start.number == 4 ? u" (disabled)" : u"");
}

std::u16string ServiceKey(const NameFinding& found) {
  return u"HKLM\\" + std::u16string(kServicesRoot) + found.name;
}

// Why the service cannot be looked up: its key would not open (or tell its
// name), and the Services key could not be listed to the end.
std::u16string LookupReason(const NameFinding& found) {
  std::u16string reason =
      u"its service cannot be looked up: " + ServiceKey(found) + u" cannot be opened (" +
      Error(found.lookup.opened) + u")";
  if (found.lookup.listed != 0) {
    reason += u", nor the Services key listed to the end (" + Error(found.lookup.listed) + u")";
  }
  return reason;
}

std::u16string StartTypeCannotBeRead(const NameFinding& found) {
  return u"its start type cannot be read (" + ServiceKey(found) + u", " +
         Error(found.start.error) + u")";
}

// The verdict on one name, as a repair gives it, and its reason in words,
// from what the questions answered.
NameReport Judge(const NameFinding& found) {
  const Verdict verdict = VerdictOn(found);
  NameReport report{found.name, verdict, {}};
  if (found.passed_earlier) return report;
  if (found.exists == 0) return {found.name, verdict, u"no service of that name"};
  if (found.exists != 1) return {found.name, verdict, LookupReason(found)};
  // Found by listing the Services key, but its own key would not open.
  if (found.lookup.opened != 0) {
    return {found.name, verdict,
            u"its key " + ServiceKey(found) + u" cannot be opened for reading (" +
                Error(found.lookup.opened) + u"): neither its start type nor its driver file "
                                             u"can be looked at"};
  }
  std::vector<std::u16string> leave;
  std::vector<std::u16string> cannot;
  if (found.enabled == 0) leave.push_back(StartTypeReason(found.start));
  if (found.enabled == kCannotTell) cannot.push_back(StartTypeCannotBeRead(found));
  const std::u16string file = DriverFileReason(found.driver_file, found.driver);
  if (found.driver == 0) leave.push_back(file);
  if (found.driver == kCannotTell) cannot.push_back(file);
  const auto joined = [](const std::vector<std::u16string>& parts) {
    std::u16string text;
    for (const auto& part : parts) text += (text.empty() ? u"" : u"; ") + part;
    return text;
  };
  if (verdict == Verdict::kLeaves) {
    // A restore happens for a name that leaves too.
    if (found.driver == 1 && !file.empty()) leave.push_back(file);
    return {found.name, verdict, joined(leave)};
  }
  if (verdict == Verdict::kNotJudged) return {found.name, verdict, joined(cannot)};
  report.reason = file;  // a restore, or nothing
  return report;
}

// Tells the report what the checks find, as they find it.
class Collector final : public RunObserver {
 public:
  explicit Collector(Report* report) : report_(report) {}
  void Place(const ListPlace& place) override {
    report_->places.push_back({});
    report_->places.back().place = place;
  }
  void NotRead(Status status, bool opening) override {
    report_->places.back().not_read = status;
    report_->places.back().key_not_opened = opening;
  }
  void NotThere() override { report_->places.back().not_there = true; }
  void Read(const ListAsRead& read) override {
    // Judged anew: what was found before is not what the repair acts on.
    PlaceReport& place = report_->places.back();
    place.type = read.type;
    place.names = MultiSzEntries(read.list);
    place.verdicts.clear();
  }
  void KeptChanging() override { report_->places.back().kept_changing = true; }
  void Judged(const NameFinding& finding) override {
    report_->places.back().verdicts.push_back(Judge(finding));
  }
  void CoInstaller(std::u16string_view entry, std::u16string_view dll, int present,
                   Status look) override {
    report_->co_installer.looked_at = true;
    report_->co_installer.entry = entry;
    report_->co_installer.dll = dll;
    report_->co_installer.present = present;
    report_->co_installer.look = look;
  }
  void CoInstallerNotRead(Status status) override {
    report_->co_installer.looked_at = true;
    report_->co_installer.not_read = status;
  }
  // What the run did to the place told last: the last write of its list
  // is what it holds after the run.
  void Did(const RunEvent& event) override {
    using Kind = RunEvent::Kind;
    using Outcome = PlaceReport::Outcome;
    switch (event.kind) {
      case Kind::kEntryRemoved: report_->co_installer.removed = true; return;
      case Kind::kDriverRestored: report_->restores.emplace_back(event.where, event.name); return;
      case Kind::kBackupKeyMade: made_keys_.push_back(event.where); return;
      default: break;
    }
    PlaceReport& place = report_->places.back();
    switch (event.kind) {
      case Kind::kListWritten:
        place.outcome = Outcome::kWritten;
        place.written = event.names;
        break;
      case Kind::kValueDeleted: place.outcome = Outcome::kDeleted; break;
      case Kind::kPropertyCleared: place.outcome = Outcome::kCleared; break;
      case Kind::kBackupWritten: place.backup = {event.where, event.name}; break;
      default: break;
    }
  }
  void Logged(std::u16string_view line, std::string_view bytes) override {
    report_->log.emplace_back(line);
    report_->log_bytes += bytes;
  }
  // Once the run is over: a device backup's key made at any time of it,
  // for any list, is a key made for the backups of that position.
  void Finish() {
    for (PlaceReport& place : report_->places) {
      if (!place.place.key.empty()) continue;
      const std::u16string key = DeviceBackupKeyPath(place.place.device);
      place.backup_key_made =
          std::any_of(made_keys_.begin(), made_keys_.end(),
                      [&](const std::u16string& made) { return SameName(made, key); });
    }
  }

 private:
  Report* report_;
  std::vector<std::u16string> made_keys_;
};

// The run's process-wide state for the check's span.
class CheckScope {
 public:
  CheckScope() {
    RunLog.Close();
    g_changesMade = 0;
  }
  ~CheckScope() { RunLog.Close(); }
  CheckScope(const CheckScope&) = delete;
  CheckScope& operator=(const CheckScope&) = delete;
};

MachineFacts LookAt(Platform& machine) {
  return {machine.ComputerName(), machine.Now(), machine.OsVersion()};
}

// Plays a repair's run through on the overlay, as far as it would go.
void ForeseeRun(OverlayPlatform& overlay, Report* report) {
  Collector collector(report);
  const CheckScope scope;
  RunContext run(&collector);
  StartRun(overlay, run);
  if (!run.ended()) {
    report->lists_reached = true;
    RunRepairChecks(overlay, run);
  }
  collector.Finish();
  report->ends_with = run.ended();
  report->reboot = g_changesMade != 0;
}

// A list that is there and was not judged: refused, unreadable or over
// 2048 bytes. No key or no value is a machine without that list.
bool NotRead(const PlaceReport& place) {
  if (!place.not_read) return false;
  const Status status = *place.not_read;
  if (status == win::kFileNotFound) return false;
  return place.key_not_opened || status != win::kInvalidData;
}

}  // namespace

Summary Summarize(const Report& report) {
  Summary summary;
  for (const PlaceReport& place : report.places) {
    if (NotRead(place)) ++summary.places_not_read;
    if (place.outcome != PlaceReport::Outcome::kUnchanged) ++summary.places_changing;
    for (const NameReport& name : place.verdicts) {
      if (name.verdict == Verdict::kLeaves) ++summary.names_leaving;
      if (name.verdict == Verdict::kNotJudged) ++summary.names_not_judged;
    }
  }
  summary.restores = static_cast<int>(report.restores.size());
  summary.co_installer_removed = report.co_installer.removed;
  summary.reboot = report.reboot;
  return summary;
}

CheckOutcome NotChecked(Platform& machine, std::u16string reason) {
  CheckOutcome outcome;
  outcome.exit_code = kCannotCheck;
  outcome.cannot_check = std::move(reason);
  outcome.machine = LookAt(machine);
  return outcome;
}

CheckOutcome RunCheck(Platform& machine) {
  // Checked while a repair runs, the machine would be half repaired: the
  // report would be true of neither state.
  if (RepairIsRunning(machine)) {
    return NotChecked(machine,
                      u"a repair is running at this moment; check again when it has ended");
  }
  CheckOutcome outcome;
  outcome.machine = LookAt(machine);
  Report& report = outcome.report;
  report.run_foreseen = true;
  report.administrator = machine.IsAdministrator();
  // Without administrator rights the keys are read as a repair run with
  // them would read them: that is how installers and management tools run
  // it.
  OverlayPlatform overlay(machine, !report.administrator);
  ForeseeRun(overlay, &report);
  report.changes = overlay.changes();
  report.keys_refusing_writes = overlay.keys_refusing_writes();
  if (!report.ends_with) {
    outcome.exit_code = report.changes.empty() ? kNothingToRepair : kRepairDue;
  } else if (!report.lists_reached) {
    outcome.exit_code = kCannotCheck;
    outcome.cannot_check =
        u"Windows older than version 5 (Windows 2000): a repair would stop at once "
        u"(exit code -1, \"Not supported platform\")";
  } else {
    outcome.exit_code = kCannotCheck;
    outcome.cannot_check =
        u"a repair would stop at once: it may not change the CD-ROM class key "
        u"(exit code -1, \"Not enough rights. Must login as administrator\")";
  }
  return outcome;
}

}  // namespace tarvox::check
