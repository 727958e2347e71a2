// TarvoxCheck.exe: a console program that tells what Tarvox.exe would repair
// on this machine, and changes nothing. Its exit code is what a detection
// script passes on: 0 nothing to repair, 1 a repair is due, 2 the check
// could not be made (the reason on standard error).
#include <windows.h>

#include <string>
#include <string_view>

#include "check/CheckRun.h"
#include "check/Report.h"
#include "platform/win32/Win32Platform.h"
#include "TarvoxVersion.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: TarvoxCheck.exe [--json]\n"
    "\n"
    "Tells what Tarvox.exe would repair on this machine, name by name, and\n"
    "changes nothing: no registry value, no backup, no file, no log.\n"
    "\n"
    "  --json   one JSON document instead of text\n"
    "  --help   this text\n"
    "\n"
    "Exit codes: 0 nothing to repair; 1 a repair is due; 2 the check could\n"
    "not be made (the reason on standard error).\n";

// UTF-8 text to a console as the console's own characters; to a file or a
// pipe as the UTF-8 bytes a script reads.
void Write(DWORD which, std::string_view utf8) {
  const HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || utf8.empty()) return;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                          static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                        wide.data(), units);
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  while (!utf8.empty()) {
    DWORD written = 0;
    if (!WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    utf8.remove_prefix(written);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool json = false;
  for (int arg = 1; arg < argc; ++arg) {
    const std::wstring_view word = argv[arg];
    if (word == L"--json") {
      json = true;
    } else if (word == L"--help" || word == L"-h" || word == L"/?") {
      Write(STD_OUTPUT_HANDLE, kUsage);
      return tarvox::check::kNothingToRepair;
    } else {
      Write(STD_ERROR_HANDLE, kUsage);
      return tarvox::check::kCannotCheck;
    }
  }
  tarvox::Win32Platform os;
  const tarvox::check::CheckOutcome outcome = tarvox::check::RunCheck(os);
  Write(STD_OUTPUT_HANDLE, json ? tarvox::check::JsonReport(outcome, TARVOX_VERSION_TEXT)
                                : tarvox::check::TextReport(outcome, TARVOX_VERSION_TEXT));
  if (!outcome.cannot_check.empty()) {
    Write(STD_ERROR_HANDLE, "TarvoxCheck: " + outcome.cannot_check + "\n");
  }
  return outcome.exit_code;
}
