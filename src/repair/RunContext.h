// What one run of the repair's checks carries besides the process-wide state
// the design names (g_changesMade, g_systemRoot, g_logDirectory, RunLog):
// the verdicts it keeps, who is told what it finds, and whether it must end
// now. Its program's entry makes one per run and passes it to every check;
// nothing of it outlives the run.
#pragma once

#include <optional>

#include "log/RunLog.h"
#include "repair/RunObserver.h"
#include "services/PassedNames.h"

namespace tarvox {

class RunContext {
 public:
  // `observer`: told what the checks find and do; with none, nothing is
  // told and no call is made for it. `passed`: where the run keeps its
  // passes; with none, in a set of its own.
  // The observer is told the lines of the run log (RunLog) from here until
  // the context ends. One run, one context: there is never a second at the
  // same time, which would take the log's listener over.
  explicit RunContext(RunObserver* observer = nullptr, PassedNames* passed = nullptr)
      : observer_(observer), passed_(passed != nullptr ? passed : &own_passed_) {
    RunLog.Listen(observer_);
  }
  ~RunContext() { RunLog.Listen(nullptr); }
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  PassedNames& passed() { return *passed_; }

  // Calls `tell` with the observer, when there is one: what is worked out
  // only to be told (a device's instance id) is worked out inside it.
  template <typename Telling>
  void Tell(Telling&& tell) {
    if (observer_ != nullptr) tell(*observer_);
  }

  // A check that cannot go on ends the run here with `code` (-1): no later
  // check runs, no notice is shown, the log is not finished. The program's
  // entry ends the process with it.
  void End(int code) { end_ = code; }
  const std::optional<int>& ended() const { return end_; }

 private:
  RunObserver* observer_;
  PassedNames own_passed_;
  PassedNames* passed_;
  std::optional<int> end_;
};

}  // namespace tarvox
