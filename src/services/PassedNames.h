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

class PassedNames {
 public:
  // Names compare as in the lists: letters A to Z folded, nothing else.
  bool Has(std::u16string_view name) const;
  void Add(std::u16string_view name);
  void Forget() { names_.clear(); }

  // Off, nothing is kept and every name is judged each time it appears.
  // The tests run machines both ways and compare all they leave.
  void SetKeeping(bool keeping);

 private:
  bool keeping_ = true;
  std::set<std::u16string> names_;  // A to Z folded
};

// The passes of the run under way; forgotten when the checks start.
extern PassedNames g_passedNames;

}  // namespace tarvox
