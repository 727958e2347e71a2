#include "app/CommandLine.h"

#include "multisz/Names.h"

namespace tarvox {

std::u16string_view CommandLineRemainder(std::u16string_view command_line) {
  std::size_t at = 0;
  if (!command_line.empty() && command_line[0] == u'"') {
    at = command_line.find(u'"', 1);
    at = at == std::u16string_view::npos ? command_line.size() : at + 1;
  } else {
    while (at < command_line.size() && command_line[at] > u' ') ++at;
  }
  while (at < command_line.size() && command_line[at] != u'\0' &&
         command_line[at] <= u' ') {
    ++at;
  }
  return command_line.substr(at);
}

bool IsSilentCommandLine(std::u16string_view command_line) {
  return SameName(CommandLineRemainder(command_line), u"-silent");
}

}  // namespace tarvox
