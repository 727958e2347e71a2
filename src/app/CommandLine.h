// The tool's one command-line switch.
#pragma once

#include <string_view>

namespace tarvox {

// What follows the program name and the blanks after it (units at or below
// U+0020). A name that starts with a double quote ends at the next double
// quote, which goes with it; otherwise it ends at the first blank.
std::u16string_view CommandLineRemainder(std::u16string_view command_line);

// True when the remainder is exactly "-silent", in any case of its letters.
// Anything after the switch, a trailing blank included, makes it another
// argument; no other argument means anything.
bool IsSilentCommandLine(std::u16string_view command_line);

}  // namespace tarvox
