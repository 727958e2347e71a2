// Name folding of the in-memory machine, shared by its registry, devices
// and process parts.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace tarvox::memory {

// Registry and environment names compare without regard to case. Windows
// folds all of Unicode; the in-memory machine folds the letters of ASCII and
// Latin-1, which is all its users spell. Lower case, as Wine orders subkeys.
inline char16_t FoldUnit(char16_t unit) {
  if (unit >= u'A' && unit <= u'Z') return static_cast<char16_t>(unit + 32);
  if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) {
    return static_cast<char16_t>(unit + 32);
  }
  return unit;
}

inline std::u16string Fold(std::u16string_view text) {
  std::u16string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), FoldUnit);
  return folded;
}

}  // namespace tarvox::memory
