// The application: one pass of every check, from start to exit code.
#pragma once

#include "platform/Platform.h"
#include "repair/RepairChecks.h"

namespace tarvox {

class RepairApp {
 public:
  explicit RepairApp(Platform& os) : os_(os) {}

  // The whole run: single-instance guard, command line, Windows folder, run
  // log, platform check, the repair checks in their fixed order, reboot
  // notice, log finished. 1 when it ran to its end, 0 when another instance
  // is running (then nothing was read, written or shown). Too old a Windows,
  // or no rights to the CD-ROM class key, end the process inside with -1.
  int InitInstance();

  // The process's exit code after InitInstance: 0 for both of its results,
  // as the window framework's message loop ends at once without a window.
  int Run();

 private:
  Platform& os_;
};

}  // namespace tarvox
