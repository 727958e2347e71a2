// How the tool compares names: filter and service names, directory forms,
// the command-line switch. Only the ASCII letters A to Z are folded to a to z;
// every other unit must match exactly, so no locale can make two different
// names equal.
#pragma once

#include <string_view>

namespace tarvox {

constexpr char16_t FoldAsciiLetter(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 32)
                                        : unit;
}

constexpr bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAsciiLetter(a[i]) != FoldAsciiLetter(b[i])) return false;
  }
  return true;
}

// Whether `text` holds `name` anywhere, with only A to Z folded.
constexpr bool ContainsName(std::u16string_view text, std::u16string_view name) {
  if (name.size() > text.size()) return false;
  for (std::size_t at = 0; at + name.size() <= text.size(); ++at) {
    if (SameName(text.substr(at, name.size()), name)) return true;
  }
  return false;
}

}  // namespace tarvox
