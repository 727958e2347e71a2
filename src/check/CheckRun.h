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

enum class Verdict { kStays, kLeaves, kNotJudged };

struct NameReport {
  std::u16string name;
  Verdict verdict = Verdict::kStays;
  std::string reason;  // plain words; empty for a name that simply stays
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
};

struct CoInstallerReport {
  std::optional<Status> not_read;
  std::u16string entry;  // the product's entry; empty: none
  std::u16string dll;    // where its DLL was looked for
  int present = kNotAsked;
  bool removed = false;
};

struct Report {
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

struct CheckOutcome {
  int exit_code = kNothingToRepair;
  std::string cannot_check;  // why, with kCannotCheck
  Report report;
};

// The check of `machine`: a repair's run, told and kept, nothing changed.
// Uses the run's process-wide state (the changes flag, the Windows folder,
// the run log) as a run does.
CheckOutcome RunCheck(Platform& machine);

}  // namespace tarvox::check
