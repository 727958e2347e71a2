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

// The Windows path of the Tarvox.exe under test.
std::wstring TarvoxExe();

// Runs Tarvox.exe with `arguments` after its quoted path ("\"...\" -silent").
TarvoxRun RunTarvox(const std::wstring& arguments);
// Runs it with exactly this command line.
TarvoxRun RunTarvoxExact(const std::wstring& command_line);

}  // namespace tarvox::wintest
