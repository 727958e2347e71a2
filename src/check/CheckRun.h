// What a repair would find and do on this machine, learned by running the
// repair's own seven checks on the machine through an overlay that keeps
// every write to itself: the report is what a run would do, and the machine
// is left exactly as it was. TarvoxCheck.exe's whole work, on any platform.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/overlay/OverlayPlatform.h"
#include "repair/RunObserver.h"

namespace tarvox::check {

// The exit codes of TarvoxCheck.exe, which a detection script passes on.
inline constexpr int kNothingToRepair = 0;
inline constexpr int kRepairDue = 1;
inline constexpr int kCannotCheck = 2;

using tarvox::Verdict;

struct NameReport {
  std::u16string name;
  Verdict verdict = Verdict::kStays;
  // Why: plain words, with the path or key and the error where something
  // could not be looked at; empty for a name that simply stays.
  std::u16string reason;
};

// One filter list: where it lives, what it holds, what each name gets, and
// what a repair would do to it.
struct PlaceReport {
  ListPlace place;
  std::optional<Status> not_read;  // why no list was read
  bool key_not_opened = false;     // ... its key could not be opened
  // No such place on this Windows (the critical device database since
  // Windows 8): absent, not a failure.
  bool not_there = false;
  // Another program changed the list each time it was judged.
  bool kept_changing = false;
  std::uint32_t type = 0;          // as stored
  std::vector<std::u16string> names;  // as Windows reads them
  std::vector<NameReport> verdicts;
  enum class Outcome { kUnchanged, kWritten, kDeleted, kCleared };
  Outcome outcome = Outcome::kUnchanged;
  std::vector<std::u16string> written;  // the list written
  // The backup written first: key path and value name.
  std::optional<std::pair<std::u16string, std::u16string>> backup;
  // Its key is made first: whether Windows lets it be made no read can
  // tell beforehand (a volatile parent takes only volatile keys), and if it
  // does not, the list is left as it is.
  bool backup_key_made = false;
};

struct CoInstallerReport {
  bool looked_at = false;  // the run got as far as the entry
  std::optional<Status> not_read;
  std::u16string entry;  // the product's entry; empty: none
  std::u16string dll;    // where its DLL was looked for
  int present = kNotAsked;
  Status look = 0;  // the existence test's answer
  bool removed = false;
};

// A check that ends early reports only what it looked at: while a repair
// runs, nothing of the repair's run; on Windows too old, how a repair would
// start and stop, but no list; with the class key refused, the places up to
// that key, and no co-installer entry.
struct Report {
  // A repair's run was played through: the fields below say what it would
  // do. Not while a repair runs.
  bool run_foreseen = false;
  // It got as far as the filter lists (`places` are the ones it reached).
  bool lists_reached = false;
  std::vector<PlaceReport> places;
  CoInstallerReport co_installer;
  std::vector<std::pair<std::u16string, std::u16string>> restores;  // from, to
  bool reboot = false;  // a repair would ask for one, unless silent
  std::optional<int> ends_with;  // a repair would end early with this code
  bool administrator = true;     // the check ran with administrator rights
  std::set<std::u16string> keys_refusing_writes;
  std::vector<std::u16string> log;  // the lines a repair would log
  std::string log_bytes;            // ... as the bytes it would append
  std::vector<OverlayPlatform::Change> changes;
};

// What a repair would do, in counts: what a tool that keeps one line of
// output needs.
struct Summary {
  int places_changing = 0;  // lists a repair writes, deletes or clears
  int names_leaving = 0;    // once for each list a name leaves
  int names_not_judged = 0; // ... and for each list it stays in unjudged
  // Lists that were there but could not be read, or were too long to judge:
  // "nothing to repair" says nothing of them. A list or key that is simply
  // not there is no such place.
  int places_not_read = 0;
  int restores = 0;         // driver files restored from their .bak copy
  bool co_installer_removed = false;
  bool reboot = false;
};
Summary Summarize(const Report& report);

// Which machine, and when: the head of every report, whatever else could be
// looked at.
struct MachineFacts {
  std::u16string computer;  // empty when its name could not be had
  UtcTime time;
  WindowsVersion windows;
};

struct CheckOutcome {
  int exit_code = kNothingToRepair;
  std::u16string cannot_check;  // why, with kCannotCheck
  MachineFacts machine;
  Report report;
};

// The check of `machine`: a repair's run, told and kept, nothing changed.
// Uses the run's process-wide state (the changes flag, the Windows folder,
// the run log) as a run does.
CheckOutcome RunCheck(Platform& machine);

// The check not made, for `reason` of the caller's (a wrong argument): the
// machine's facts, nothing else looked at.
CheckOutcome NotChecked(Platform& machine, std::u16string reason);

}  // namespace tarvox::check
