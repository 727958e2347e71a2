// The names that passed every question in this run: their service exists,
// Windows may start it, and its driver file is there. The same few filters
// stand in the class key, the critical-device entry and on every CD-ROM
// device; a name that passed once is not asked about again in the run.
//
// Only a pass is kept. A name that failed or could not be judged is asked
// again each time it appears: its answer may change within the run (a
// restore puts a driver in place), and its log lines repeat as they must.
// A restore changes the file system, so it forgets every pass: a driver
// file that was looked at may be the very file a restore moved.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace tarvox {

// One run keeps one set (see RunContext). Another kind may keep them
// otherwise: the tests keep none, and see that a run without them leaves
// the same.
class PassedNames {
 public:
  virtual ~PassedNames() = default;
  // Names compare as in the lists: letters A to Z folded, nothing else.
  virtual bool Has(std::u16string_view name) const;
  virtual void Add(std::u16string_view name);
  virtual void Forget() { names_.clear(); }

 private:
  std::set<std::u16string> names_;  // A to Z folded
};

}  // namespace tarvox
