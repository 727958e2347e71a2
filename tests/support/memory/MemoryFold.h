// Name folding of the in-memory machine, shared by its registry, devices
// and process parts.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace tarvox::memory {

// Registry and environment names compare without regard to case. Windows
// folds all of Unicode through its upcase table; the in-memory machine
// folds the letters of ASCII and Latin-1, which is all its users spell. To
// upper case, as Windows' registry orders subkeys (by the upper-cased
// name: "A_B" after "AB", where Wine, which orders by the lower-cased name,
// puts it first).
inline char16_t FoldUnit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - 32);
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) {
    return static_cast<char16_t>(unit - 32);
  }
  if (unit == 0xFF) return 0x178;  // y with diaeresis
  return unit;
}

inline std::u16string Fold(std::u16string_view text) {
  std::u16string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), FoldUnit);
  return folded;
}

}  // namespace tarvox::memory
