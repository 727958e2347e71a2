// TarvoxRestore.exe: a console program for support staff that puts back a
// filter a repair removed, from the backups the repair wrote. Its exit code
// says what happened: 0 listed, nothing would change, or every change made;
// 1 something would change, or not every change was made; 2 refused,
// nothing changed (the reason on standard error).
#include <string>
#include <vector>

#include "platform/win32/Win32Platform.h"
#include "restore/RestoreRun.h"
#include "text/Console.h"
#include "TarvoxVersion.h"

int wmain(int argc, wchar_t** argv) {
  namespace restore = tarvox::restore;
  namespace text = tarvox::text;
  std::vector<std::u16string> words;
  for (int arg = 1; arg < argc; ++arg) {
    const std::wstring_view word = argv[arg];
    words.emplace_back(word.begin(), word.end());
  }
  tarvox::Win32Platform os;
  const restore::Outcome outcome =
      restore::RunRestore(os, restore::ParseArguments(words), TARVOX_VERSION_TEXT);
  if (const std::uint32_t error = text::WriteTo(text::Stream::kOutput, outcome.out)) {
    text::WriteTo(text::Stream::kError, "TarvoxRestore: the report could not be written whole (error " +
                                            std::to_string(error) + ")\n");
  }
  text::WriteTo(text::Stream::kError, outcome.err);
  return outcome.exit_code;
}
