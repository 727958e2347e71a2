// The application: one pass of every check, from start to exit code.
#pragma once

#include <optional>

#include "platform/Platform.h"
#include "services/PassedNames.h"
#include "repair/RepairChecks.h"
#include "repair/RunObserver.h"

namespace tarvox {

class RepairApp {
 public:
  // `passed`: where the run keeps the names that passed (none: a set of its
  // own). `observer`: told what the run finds and does (none: nobody).
  explicit RepairApp(Platform& os, PassedNames* passed = nullptr,
                     RunObserver* observer = nullptr)
      : os_(os), passed_(passed), observer_(observer) {}

  // The whole run: single-instance guard, command line, Windows folder, run
  // log, platform check, the repair checks in their fixed order, reboot
  // notice, log finished. 1 when it ran to its end, 0 when another instance
  // is running (then nothing was read, written or shown). Too old a Windows,
  // or no rights to the CD-ROM class key, end the run there: nothing more
  // is done, and the process is to end with -1 (ended()).
  int InitInstance();
  const std::optional<int>& ended() const { return ended_; }

  // The process's exit code: 0 for both results of InitInstance, as the
  // window framework's message loop ends at once without a window; -1 for a
  // run that ended early.
  int Run();

 private:
  Platform& os_;
  PassedNames* passed_;
  RunObserver* observer_;
  std::optional<int> ended_;
};

}  // namespace tarvox
