// TarvoxCheck.exe: a console program that tells what Tarvox.exe would repair
// on this machine, and changes nothing. Its exit code is what a detection
// script passes on: 0 nothing to repair, 1 a repair is due, 2 the check
// could not be made (the reason on standard error).
#include <string>
#include <string_view>
#include <vector>

#include "check/Arguments.h"
#include "check/CheckRun.h"
#include "text/Console.h"
#include "text/Escape.h"
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

std::u16string FromWide(std::wstring_view wide) { return {wide.begin(), wide.end()}; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  namespace check = tarvox::check;
  namespace text = tarvox::text;
  std::vector<std::u16string> words;
  for (int arg = 1; arg < argc; ++arg) words.push_back(FromWide(argv[arg]));
  const check::Arguments arguments = check::ParseArguments(words);
  if (arguments.help && !arguments.unknown) {
    return WriteTo(text::Stream::kOutput, kUsage) == 0 ? check::kNothingToRepair : check::kCannotCheck;
  }

  tarvox::Win32Platform os;
  check::CheckOutcome outcome;
  if (arguments.unknown) {
    // Named on standard error, and said in the form asked for on standard
    // output, so that a script always has a result to read.
    WriteTo(text::Stream::kError, "TarvoxCheck: unknown argument: " + text::Shown(*arguments.unknown) +
                                "\n" + std::string(kUsage));
    outcome = check::NotChecked(os, check::UnknownArgumentReason(*arguments.unknown));
  } else {
    outcome = check::RunCheck(os);
    if (!outcome.cannot_check.empty()) {
      WriteTo(text::Stream::kError, "TarvoxCheck: " + text::Shown(outcome.cannot_check) + "\n");
    }
  }
  const std::string report =
      check::Render(outcome, arguments.json, arguments.summary, TARVOX_VERSION_TEXT);
  const std::uint32_t error = WriteTo(text::Stream::kOutput, report);
  if (error != 0) {
    // A report cut short must not pass for a whole one: the verdict goes
    // with it.
    WriteTo(text::Stream::kError, "TarvoxCheck: the report could not be written whole (error " +
                                std::to_string(error) + ")\n");
    return check::kCannotCheck;
  }
  return outcome.exit_code;
}
