// Starts Tarvox.exe inside the test's Wine prefix and watches it to its end:
// exact command line, whole exit code, and every message box it shows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tarvox::wintest {

struct NoticeSeen {
  std::wstring caption;
  std::wstring text;
};

struct TarvoxRun {
  bool ended = false;  // false: still running after the wait, then killed
  DWORD exit_code = 0;
  std::vector<NoticeSeen> notices;  // each was answered with OK
};

// The Windows path of the Tarvox.exe under test, and of the TarvoxCheck.exe
// and TarvoxRestore.exe beside it.
std::wstring TarvoxExe();
std::wstring CheckExe();
std::wstring RestoreExe();

// Runs Tarvox.exe with `arguments` after its quoted path ("\"...\" -silent").
TarvoxRun RunTarvox(const std::wstring& arguments);
// Runs it with exactly this command line.
TarvoxRun RunTarvoxExact(const std::wstring& command_line);

// Wine tells the program of this file name ("Tarvox.exe") that it runs on
// this Windows version ("nt40", "win2k", "win7", "win10").
void PretendWindowsVersion(const std::wstring& exe, const std::wstring& version);

// Installs a service that starts `program`, as a deployment agent does,
// starts it, and gives how the program ended: "exit <code>", or "still
// running" when it had not ended by itself after 30 s (it is then ended).
std::string RunFromAService(const std::wstring& program);

}  // namespace tarvox::wintest
