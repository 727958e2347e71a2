#include "check/Arguments.h"

#include "text/Escape.h"
#include "multisz/Names.h"

namespace tarvox::check {

using text::Prefix;
namespace {

constexpr std::size_t kArgumentShown = 64;

std::u16string Digits(std::size_t number) {
  std::u16string digits;
  for (const char c : std::to_string(number)) digits += static_cast<char16_t>(c);
  return digits;
}

}  // namespace

Arguments ParseArguments(const std::vector<std::u16string>& words) {
  Arguments arguments;
  for (const std::u16string& word : words) {
    if (SameName(word, u"--json")) {
      arguments.json = true;
    } else if (SameName(word, u"--summary")) {
      arguments.summary = true;
    } else if (SameName(word, u"--help") || SameName(word, u"-h") || word == u"/?") {
      arguments.help = true;
    } else if (!arguments.unknown) {
      arguments.unknown = word;
    }
  }
  return arguments;
}

std::u16string UnknownArgumentReason(std::u16string_view word) {
  std::u16string reason = u"unknown argument: ";
  if (word.empty()) return reason + u"(empty)";
  const std::u16string_view shown = Prefix(word, kArgumentShown);
  reason += shown;
  if (shown.size() < word.size()) reason += u"... (" + Digits(word.size()) + u" units in all)";
  return reason;
}

}  // namespace tarvox::check
