// TarvoxCheck.exe's arguments. Each is taken whole and in any letter case,
// as Tarvox.exe takes -silent.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvox::check {

struct Arguments {
  bool json = false;     // --json: one JSON document instead of text
  bool summary = false;  // --summary: the verdict and the counts on one line
  bool help = false;     // --help, -h or /?
  // The first argument not understood. It wins over --help: a script that
  // passes a wrong argument learns of it from the exit code.
  std::optional<std::u16string> unknown;
};

Arguments ParseArguments(const std::vector<std::u16string>& words);

// Why the check was not made, for the report: the argument's first 64
// units at most ("(empty)" for an empty one), so the report's last line
// stays short whatever was passed.
std::u16string UnknownArgumentReason(std::u16string_view word);

}  // namespace tarvox::check
