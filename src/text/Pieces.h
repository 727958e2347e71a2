// Long text handed to a writer in pieces. A console of older Windows refuses
// one large write (its buffer lives in a small shared heap), so the report
// goes to it a piece at a time, each piece checked.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarvox::text {

// The length of the piece at the start of `rest`: at most `most` units
// (`most` at least 2), one fewer where the piece would end between the two
// halves of a surrogate pair, which the console would show as two wrong
// characters.
template <typename Unit>
std::size_t PieceLength(std::basic_string_view<Unit> rest, std::size_t most) {
  if (rest.size() <= most) return rest.size();
  const auto high = static_cast<char32_t>(rest[most - 1]);
  const auto low = static_cast<char32_t>(rest[most]);
  if (high >= 0xD800 && high <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) return most - 1;
  return most;
}

// Writes `text` through `write(piece, &written)`, which returns false when
// the write failed; a write that took part of its piece is followed by one
// for the rest. Stops at the first write that fails or takes nothing, and
// returns false: nothing after it is written, so the output never has a
// hole in its middle.
template <typename Unit, typename Write>
bool WriteInPieces(std::basic_string_view<Unit> text, std::size_t most, Write write) {
  while (!text.empty()) {
    const std::basic_string_view<Unit> piece = text.substr(0, PieceLength(text, most));
    std::size_t written = 0;
    if (!write(piece, &written) || written == 0 || written > piece.size()) return false;
    text.remove_prefix(written);
  }
  return true;
}

}  // namespace tarvox::text
