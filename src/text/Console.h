// Text to a program's standard output or error, as a console program
// writes it: to a console as the console's own characters, in pieces it
// takes; to a file or a pipe as the UTF-8 bytes a script reads.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarvox::text {

enum class Stream { kOutput, kError };

// Writes all of `utf8`. 0 when all of it was written, or when there is
// nowhere to write (a process started without the handle has nobody
// reading it); else the error of the write that failed, after which
// nothing more was written.
std::uint32_t WriteTo(Stream stream, std::string_view utf8);

}  // namespace tarvox::text
