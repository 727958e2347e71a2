// What must hold after any run of the tool on an in-memory machine, whatever
// the machine held and whatever operation failed: shared by the whole-run
// fuzzer and the fault sweep.
//
// Taken before a run, a snapshot knows every value, key and file; after the
// run it tells the first rule the run broke, or nothing:
// - nothing is lost: every filter list (class key, critical-device entry,
//   each CD-ROM device) is as read, or rewritten as the names Windows reads
//   from it, or pruned (a well-formed list of the entries as read less
//   every spelling of some names, in their order), or gone because it held
//   no name; and whenever the change dropped anything stored (a pruned list,
//   a single string with more after its name, an empty list with more than
//   NULs), the value as read, type and bytes, is in its backup under the
//   name the backup rules give, where no later write of the run replaced it;
// - every backup written is one the run told it wrote (its events), where
//   and under the name the backup rules give;
// - a name leaves a list only on evidence: with `must_stay` given, every
//   entry naming a service that exists, may start and whose driver file is
//   there or cannot be looked at is still in its list;
// - nothing else changed but the co-installer value (pruned, well formed;
//   the product's own entry, which its installer writes again, is removed
//   without a backup), the log files, and driver files restored from their
//   ".bak" copies;
// - the log keeps what it held: the lines a temporary log held before the
//   run begin the temporary or the final log after it, an older final log
//   is only ever replaced by one that begins with them, and a run that
//   logged nothing left both files as they were.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/RecordedRun.h"
#include "support/memory/MemoryPlatform.h"

namespace tarvox::invariants {

class RunSnapshot {
 public:
  // `devices`: the device keys (below HKEY_LOCAL_MACHINE) in the order the
  // machine enumerates them.
  RunSnapshot(const MemoryPlatform& machine, std::vector<std::u16string> devices);

  // The names, letters A to Z folded, against which this machine holds no
  // evidence: services that exist and whose start type lets Windows load
  // them, unless their key cannot be read, and whose driver file is there,
  // or cannot be located or looked at from `windows_folder` (empty: the
  // Windows folder is unknown). Taken after a run, a driver restored by the
  // run counts, and one the run could not restore does not. Asks the
  // machine about files, so it runs operations.
  static std::set<std::u16string> NamesThatMustStay(
      MemoryPlatform& machine, std::u16string_view windows_folder);

  // Empty when the run kept every rule, else what it broke. With `fault`,
  // that operation of the run was made to fail: a backup may then stand in
  // either slot (a first backup's test that could not tell takes the
  // latest), but a first backup that was there is written again only when
  // the registry itself answered that it was not. `logged`: whether the run
  // wrote a line to its log. `run`: what the run told it did.
  std::string CheckRun(const MemoryPlatform& after, const testing::RecordedRun& run,
                       const std::set<std::u16string>* must_stay, bool logged,
                       const MemoryPlatform::FiredFault* fault = nullptr) const;

  // Empty when a run in which one operation was made to fail (`faulted`)
  // removed no name that the same run without the fault (`clean`) kept,
  // unless the failing operation was about that name's service key or
  // driver files and either reported absence or was the restore's rename:
  // not being able to look never costs a name.
  std::string CheckFaultCostsNoName(const MemoryPlatform& clean,
                                    const MemoryPlatform& faulted,
                                    const MemoryPlatform::FiredFault& fault,
                                    std::u16string_view windows_folder) const;

  // Empty when a run, during which another program wrote `written` to the
  // list `name` of `key` (adding its own filter `theirs` to what it found
  // there, or putting `theirs` in place of a name as long, or turning the
  // list around), kept that filter (and, for a list turned around, the
  // other program's order), and every backup the run wrote holds a value
  // its list really held: as it was before the run, or as the other
  // program wrote it. With `unseeable`, the other write came between the
  // run's last read of that list and its write of it, with nothing between,
  // where no program can see it: the change may then be lost.
  std::string CheckSecondWriter(const MemoryPlatform& after, std::u16string_view key,
                                std::u16string_view name,
                                const MemoryPlatform::StoredValue& written,
                                std::u16string_view theirs, bool unseeable) const;

  // By folded key path and value name; the name as spelled kept.
  struct Held {
    std::u16string name;
    MemoryPlatform::StoredValue value;
  };
  using Values = std::map<std::pair<std::u16string, std::u16string>, Held>;

  // The names Windows reads from the value `name` of `key` as it was when
  // the snapshot was taken (as ListNames reads them from a machine).
  std::vector<std::u16string> ListNames(std::u16string_view key, std::u16string_view name) const;

  // Empty when no filter list, device property or driver file differs
  // between this snapshot and `after`: what a run over a repaired machine
  // must leave.
  std::string CheckNothingRepaired(const MemoryPlatform& after) const;

 private:
  using Accounted = std::set<std::pair<std::u16string, std::u16string>>;
  struct Place {
    std::u16string key;
    std::u16string name;
    bool device;
    int number;  // the device's position
  };

  static Values ValuesOf(const MemoryPlatform& machine);
  static std::map<std::u16string, std::string> FilesOf(
      const MemoryPlatform& machine);
  // Where a list's backups go: beside it, or under its device's position.
  static std::u16string BackupKeyOf(const Place& place);
  // Whether a first backup of the list was there before the run.
  bool HeldFirstBackup(const Place& place) const;
  // Empty when every backup of the list that changed is one the run told
  // it wrote (`*told`: its value name), where the backup rules put it;
  // else what is wrong.
  std::string CheckBackupTold(const Place& place, const Values& after,
                              const testing::RecordedRun& run, bool operation_failed,
                              std::optional<std::u16string>* told) const;
  std::string CheckPlace(const Place& place, const Values& after,
                         const testing::RecordedRun& run,
                         const std::set<std::u16string>* must_stay,
                         bool operation_failed, Accounted* accounted) const;
  std::string CheckOthers(const MemoryPlatform& after, const Values& now,
                          const Accounted& accounted) const;
  std::string CheckLogs(const MemoryPlatform& after, bool logged) const;
  // The entries, A to Z folded, each place held before the run and does not
  // hold in `after`.
  std::vector<std::set<std::u16string>> Removed(const MemoryPlatform& after) const;

  std::vector<Place> places_;
  std::vector<std::u16string> services_;  // the Services key's subkeys
  Values values_;
  std::set<std::u16string> keys_;
  std::map<std::u16string, std::string> files_;
};

// Text for a message: ASCII as it is, every other unit as '?'.
std::string Narrow(std::u16string_view text);

// The names Windows reads from the value `name` of `key` (one for a single
// string); none when the value is not there or too large for a list.
std::vector<std::u16string> ListNames(const MemoryPlatform& machine, std::u16string_view key,
                                      std::u16string_view name);

// Empty when two machines hold the same: every key, every value with its
// type and bytes, every file with its bytes and every notice shown; else the
// first difference. Two runs a user could tell apart differ here, or in
// their exit codes. Without `logs`, the log files and notices are not
// compared.
std::string SameOutcome(const MemoryPlatform& a, const MemoryPlatform& b,
                        bool logs = true);

}  // namespace tarvox::invariants
