// What must hold after any run of the tool on an in-memory machine, whatever
// the machine held and whatever operation failed: shared by the whole-run
// fuzzer and the fault sweep.
//
// Taken before a run, a snapshot knows every value, key and file; after the
// run it tells the first rule the run broke, or nothing:
// - every filter list (class key, critical-device entry, each CD-ROM device)
//   is as read, or converted from a single string, or pruned: a well-formed
//   list of the entries as read less every spelling of some names, in their
//   order, or gone; and a changed list's content as read is in its backup,
//   type and bytes, under the name the backup rules give;
// - nothing else changed but the co-installer value (pruned, well formed),
//   the log files, and driver files restored from their ".bak" copies;
// - with `valid_names` given, every entry naming a service that exists, may
//   start and has (or gets back) its driver file is still in its list.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/MemoryPlatform.h"

namespace tarvox::invariants {

class RunSnapshot {
 public:
  // `devices`: the device keys (below HKEY_LOCAL_MACHINE) in the order the
  // machine enumerates them.
  RunSnapshot(const MemoryPlatform& machine, std::vector<std::u16string> devices);

  // The names whose services pass every check on this machine, letters A to
  // Z folded: taken after a run, a driver restored by the run counts, and
  // one the run could not restore does not. Asks the machine about files,
  // so it runs operations.
  static std::set<std::u16string> ValidNames(MemoryPlatform& machine);

  // Empty when the run kept every rule, else what it broke. With
  // `operation_failed`, an operation of the run was made to fail: the test
  // for an existing first backup may then have been told "not found", so a
  // backup may stand in either slot.
  std::string CheckRun(const MemoryPlatform& after,
                       const std::set<std::u16string>* valid_names,
                       bool operation_failed = false) const;

  // By folded key path and value name; the name as spelled kept.
  struct Held {
    std::u16string name;
    MemoryPlatform::StoredValue value;
  };
  using Values = std::map<std::pair<std::u16string, std::u16string>, Held>;

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
  std::pair<std::u16string, std::u16string> BackupOf(const Place& place) const;
  std::string CheckPlace(const Place& place, const Values& after,
                         const std::set<std::u16string>* valid_names,
                         bool operation_failed, Accounted* accounted) const;
  std::string CheckOthers(const MemoryPlatform& after, const Values& now,
                          const Accounted& accounted) const;

  std::vector<Place> places_;
  Values values_;
  std::set<std::u16string> keys_;
  std::map<std::u16string, std::string> files_;
};

}  // namespace tarvox::invariants
