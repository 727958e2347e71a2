#include "text/Escape.h"

#include <cstdint>
#include <cstdio>

#include "text/Pieces.h"

namespace tarvox::text {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// Hidden characters beyond the controls, in order.
constexpr Range kHidden[] = {
    {0x00A0, 0x00A0},    // no-break space
    {0x00AD, 0x00AD},    // soft hyphen
    {0x034F, 0x034F},    // combining grapheme joiner
    {0x061C, 0x061C},    // Arabic letter mark
    {0x115F, 0x1160},    // Hangul fillers
    {0x1680, 0x1680},    // Ogham space mark
    {0x17B4, 0x17B5},    // Khmer invisible vowels
    {0x180B, 0x180F},    // Mongolian selectors and vowel separator
    {0x2000, 0x200F},    // spaces, zero-width space and joiners, direction marks
    {0x2028, 0x202F},    // line and paragraph separators, embeddings, overrides
    {0x205F, 0x206F},    // space, word joiner, invisible operators, isolates
    {0x3000, 0x3000},    // ideographic space
    {0x3164, 0x3164},    // Hangul filler
    {0xD800, 0xDFFF},    // surrogates: only one without its pair is ever seen
    {0xFDD0, 0xFDEF},    // noncharacters
    {0xFE00, 0xFE0F},    // variation selectors
    {0xFEFF, 0xFEFF},    // zero-width no-break space (byte order mark)
    {0xFFA0, 0xFFA0},    // half-width Hangul filler
    {0xFFF9, 0xFFFB},    // interlinear annotation
    {0x1D173, 0x1D17A},  // musical formatting
    {0xE0000, 0xE0FFF},  // tags, variation selectors supplement
};

bool IsHigh(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLow(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Calls `each(code)` for each character of `text`; a surrogate without its
// pair comes as its own value, which no pair ever gives.
template <typename Each>
void ForEachCharacter(std::u16string_view text, Each each) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    char32_t code = text[at];
    if (IsHigh(code) && at + 1 < text.size() && IsLow(text[at + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++at] - 0xDC00);
    }
    each(code);
  }
}

void AppendUtf8(std::string* out, char32_t code) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

void AppendJsonUnit(std::string* out, char32_t unit) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
  *out += escaped;
}

}  // namespace

bool Hidden(char32_t code) {
  if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) return true;
  if ((code & 0xFFFE) == 0xFFFE) return true;  // the last two of every plane
  for (const Range& range : kHidden) {
    if (code < range.first) return false;
    if (code <= range.last) return true;
  }
  return false;
}

std::string Shown(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCharacter(text, [&](char32_t code) {
    if (code == U'<' || Hidden(code)) {
      char escaped[16];
      std::snprintf(escaped, sizeof escaped, "<U+%04X>", static_cast<unsigned>(code));
      out += escaped;
    } else {
      AppendUtf8(&out, code);
    }
  });
  return out;
}

std::u16string ShownUnits(std::u16string_view text,
                          const std::function<bool(std::u16string_view)>& keeps) {
  std::u16string out;
  out.reserve(text.size());
  ForEachCharacter(text, [&](char32_t code) {
    std::u16string units;
    if (code >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
    if (code == U'<' || Hidden(code) || (keeps && !keeps(units))) {
      char escaped[16];
      std::snprintf(escaped, sizeof escaped, "<U+%04X>", static_cast<unsigned>(code));
      for (const char* at = escaped; *at != '\0'; ++at) out += static_cast<char16_t>(*at);
    } else {
      out += units;
    }
  });
  return out;
}

std::size_t Characters(std::string_view utf8) {
  std::size_t count = 0;
  for (const char byte : utf8) {
    // Every byte but a continuation byte (10xxxxxx) starts a character.
    if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string JsonString(std::u16string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  ForEachCharacter(text, [&](char32_t code) {
    if (code == U'"' || code == U'\\') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (!Hidden(code)) {
      AppendUtf8(&out, code);
    } else if (code >= 0x10000) {
      AppendJsonUnit(&out, 0xD800 + ((code - 0x10000) >> 10));
      AppendJsonUnit(&out, 0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      AppendJsonUnit(&out, code);
    }
  });
  return out + "\"";
}

std::string JsonString(std::string_view words) {
  std::string out = "\"";
  for (const char c : words) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      AppendJsonUnit(&out, static_cast<unsigned char>(c));
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string ShownList(const std::vector<std::u16string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + Shown(name);
  return text.empty() ? "(no name)" : text;
}

std::u16string_view Prefix(std::u16string_view text, std::size_t most) {
  return text.substr(0, PieceLength(text, most));
}

}  // namespace tarvox::text
