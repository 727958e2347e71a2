// TarvoxCheck.exe: a console program that tells what Tarvox.exe would repair
// on this machine, and changes nothing. Its exit code is what a detection
// script passes on: 0 nothing to repair, 1 a repair is due, 2 the check
// could not be made (the reason on standard error).
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "check/Arguments.h"
#include "check/CheckRun.h"
#include "check/Escape.h"
#include "check/Pieces.h"
#include "check/Report.h"
#include "platform/win32/Win32Platform.h"
#include "TarvoxVersion.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: TarvoxCheck.exe [--json] [--summary]\n"
    "\n"
    "Tells what Tarvox.exe would repair on this machine, name by name, and\n"
    "changes nothing: no registry value, no backup, no file, no log.\n"
    "\n"
    "  --json      one JSON document instead of text\n"
    "  --summary   only the verdict and its counts, on one line (with --json,\n"
    "              a JSON document on one line)\n"
    "  --help      this text\n"
    "\n"
    "Exit codes: 0 nothing to repair; 1 a repair is due; 2 the check could\n"
    "not be made (the reason on standard error).\n";

// Units handed to the console in one call: far below what the consoles of
// older Windows refuse (their buffer lives in a shared heap of 64 KB).
constexpr std::size_t kConsolePiece = 4096;
// Bytes handed to a file or pipe in one call.
constexpr std::size_t kFilePiece = 65536;

// UTF-8 text to a console as the console's own characters; to a file or a
// pipe as the UTF-8 bytes a script reads. 0 when all of it was written, or
// when there is nowhere to write (a process started without the handle has
// nobody reading it); else the error of the write that failed, after which
// nothing more was written.
DWORD Write(DWORD which, std::string_view utf8) {
  const HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || utf8.empty()) return 0;
  DWORD error = ERROR_SUCCESS;
  // A write that reports success but takes nothing would loop for ever.
  const auto failed = [&] {
    error = GetLastError();
    if (error == ERROR_SUCCESS) error = ERROR_WRITE_FAULT;
  };
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                          static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                        wide.data(), units);
    const bool all = tarvox::check::WriteInPieces(
        std::wstring_view(wide), kConsolePiece,
        [&](std::wstring_view piece, std::size_t* written) {
          SetLastError(ERROR_SUCCESS);
          DWORD count = 0;
          const BOOL ok = WriteConsoleW(out, piece.data(), static_cast<DWORD>(piece.size()),
                                        &count, nullptr);
          *written = count;
          return ok != FALSE;
        });
    if (!all) failed();
    return error;
  }
  const bool all = tarvox::check::WriteInPieces(
      utf8, kFilePiece, [&](std::string_view piece, std::size_t* written) {
        SetLastError(ERROR_SUCCESS);
        DWORD count = 0;
        const BOOL ok =
            WriteFile(out, piece.data(), static_cast<DWORD>(piece.size()), &count, nullptr);
        *written = count;
        return ok != FALSE;
      });
  if (!all) failed();
  return error;
}

std::u16string FromWide(std::wstring_view wide) { return {wide.begin(), wide.end()}; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  namespace check = tarvox::check;
  std::vector<std::u16string> words;
  for (int arg = 1; arg < argc; ++arg) words.push_back(FromWide(argv[arg]));
  const check::Arguments arguments = check::ParseArguments(words);
  if (arguments.help && !arguments.unknown) {
    return Write(STD_OUTPUT_HANDLE, kUsage) == 0 ? check::kNothingToRepair : check::kCannotCheck;
  }

  tarvox::Win32Platform os;
  check::CheckOutcome outcome;
  if (arguments.unknown) {
    // Named on standard error, and said in the form asked for on standard
    // output, so that a script always has a result to read.
    Write(STD_ERROR_HANDLE, "TarvoxCheck: unknown argument: " + check::Shown(*arguments.unknown) +
                                "\n" + std::string(kUsage));
    outcome = check::NotChecked(os, check::UnknownArgumentReason(*arguments.unknown));
  } else {
    outcome = check::RunCheck(os);
    if (!outcome.cannot_check.empty()) {
      Write(STD_ERROR_HANDLE, "TarvoxCheck: " + check::Shown(outcome.cannot_check) + "\n");
    }
  }
  const std::string report =
      check::Render(outcome, arguments.json, arguments.summary, TARVOX_VERSION_TEXT);
  const DWORD error = Write(STD_OUTPUT_HANDLE, report);
  if (error != 0) {
    // A report cut short must not pass for a whole one: the verdict goes
    // with it.
    Write(STD_ERROR_HANDLE, "TarvoxCheck: the report could not be written whole (error " +
                                std::to_string(error) + ")\n");
    return check::kCannotCheck;
  }
  return outcome.exit_code;
}
