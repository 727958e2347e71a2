// TarvoxRestore.exe's whole work, on any platform: it lists the backups a
// repair wrote, says what putting a filter name back would change, and puts
// it back. Support staff use it when a repair removed a filter whose
// evidence did not last, and the filter is healthy again.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace tarvox::restore {

// Exit codes.
inline constexpr int kDone = 0;        // listed; nothing would change; all made
inline constexpr int kWouldChange = 1;  // a look: something would change;
                                        // --apply: not every change was made
inline constexpr int kRefused = 2;     // nothing changed; the reason on
                                        // standard error

// The log of the restores, beside the run log, never mixed into it.
inline constexpr std::u16string_view kRestoreLogName = u"TarvoxRestore.log";

struct Arguments {
  std::optional<std::u16string> name;  // --name NAME
  bool apply = false;                  // --apply
  bool help = false;
  std::u16string error;  // what is wrong with the arguments; empty: nothing
};

// Option words in any letter case (A to Z), as Tarvox.exe takes -silent;
// the word after --name is the name, as written.
Arguments ParseArguments(const std::vector<std::u16string>& words);

struct Outcome {
  int exit_code = kDone;
  std::string out;  // UTF-8, for standard output
  std::string err;  // UTF-8, for standard error
};

Outcome RunRestore(Platform& os, const Arguments& arguments, std::string_view version);

}  // namespace tarvox::restore
