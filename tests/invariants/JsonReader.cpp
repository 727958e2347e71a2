#include "invariants/JsonReader.h"

namespace tarvox::json {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<Value> Document(std::string* error) {
    std::optional<Value> value = Any();
    Space();
    if (value && at_ != text_.size()) Fail("text after the document");
    if (!error_.empty()) {
      *error = "at byte " + std::to_string(at_) + ": " + error_;
      return std::nullopt;
    }
    return value;
  }

 private:
  static constexpr int kDeepest = 64;

  void Fail(const char* why) {
    if (error_.empty()) error_ = why;
  }
  bool More() const { return at_ < text_.size() && error_.empty(); }
  char Peek() const { return More() ? text_[at_] : '\0'; }
  void Space() {
    while (More() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) ++at_;
  }
  bool Take(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  std::optional<Value> Any() {
    Space();
    if (++depth_ > kDeepest) Fail("nested too deep");
    std::optional<Value> value;
    const char c = Peek();
    if (c == '{') value = Object();
    else if (c == '[') value = Array();
    else if (c == '"') value = String();
    else if (c == '-' || (c >= '0' && c <= '9')) value = Number();
    else if (Take("true")) value = Value{Value::Kind::kBool, true, {}, {}, {}, {}, {}};
    else if (Take("false")) value = Value{Value::Kind::kBool, false, {}, {}, {}, {}, {}};
    else if (Take("null")) value = Value{};
    else Fail("no value");
    --depth_;
    // Moved out, not copied: a copy at every level would read the document
    // once for each level of its depth.
    if (!error_.empty()) return std::nullopt;
    return value;
  }

  // The items of an object or array, from its opening bracket to `close`,
  // each read by `item` and followed by ',' or `close`.
  template <typename Item>
  bool Items(char close, Item item) {
    ++at_;
    Space();
    if (Take(std::string_view(&close, 1))) return true;
    while (error_.empty()) {
      if (!item()) break;
      Space();
      if (Take(std::string_view(&close, 1))) return true;
      if (!Take(",")) Fail("no ',' or closing bracket after an item");
    }
    return false;
  }

  std::optional<Value> Object() {
    Value object;
    object.kind = Value::Kind::kObject;
    const bool read = Items('}', [&] {
      Space();
      if (Peek() != '"') Fail("a member's name is no string");
      std::optional<Value> name = String();
      Space();
      if (!Take(":")) Fail("no ':' after a member's name");
      std::optional<Value> value = Any();
      if (!name || !value) return false;
      object.names.push_back(name->string);
      object.members.push_back(std::move(*value));
      return true;
    });
    return read ? std::optional<Value>(std::move(object)) : std::nullopt;
  }

  std::optional<Value> Array() {
    Value array;
    array.kind = Value::Kind::kArray;
    const bool read = Items(']', [&] {
      std::optional<Value> item = Any();
      if (item) array.items.push_back(std::move(*item));
      return item.has_value();
    });
    return read ? std::optional<Value>(std::move(array)) : std::nullopt;
  }

  std::optional<Value> Number() {
    const std::size_t start = at_;
    const auto digits = [&] {
      const std::size_t from = at_;
      while (More() && Peek() >= '0' && Peek() <= '9') ++at_;
      return at_ - from;
    };
    Take("-");
    if (Take("0")) {
      if (More() && Peek() >= '0' && Peek() <= '9') Fail("a number with a leading zero");
    } else if (digits() == 0) {
      Fail("a number without digits");
    }
    if (Take(".") && digits() == 0) Fail("no digits after a decimal point");
    if (Peek() == 'e' || Peek() == 'E') {
      ++at_;
      if (Peek() == '+' || Peek() == '-') ++at_;
      if (digits() == 0) Fail("no digits in an exponent");
    }
    Value number;
    number.kind = Value::Kind::kNumber;
    number.number = std::string(text_.substr(start, at_ - start));
    return number;
  }

  // Four hex digits of a \u escape.
  char16_t Hex4() {
    char16_t unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = Peek();
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) Fail("a \\u escape without four hex digits");
      unit = static_cast<char16_t>(unit * 16 + (digit < 0 ? 0 : digit));
      ++at_;
    }
    return unit;
  }

  // One UTF-8 character, at least one byte of it not ASCII, as UTF-16.
  void Utf8(std::u16string* out) {
    const auto lead = static_cast<unsigned char>(text_[at_]);
    int extra = -1;
    if (lead >= 0xC2 && lead <= 0xDF) extra = 1;
    if (lead >= 0xE0 && lead <= 0xEF) extra = 2;
    if (lead >= 0xF0 && lead <= 0xF4) extra = 3;
    if (extra < 0) {
      Fail("not UTF-8");
      return;
    }
    char32_t code = lead & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) {
      const auto next = at_ + i < text_.size() ? static_cast<unsigned char>(text_[at_ + i]) : 0;
      if ((next & 0xC0) != 0x80) {
        Fail("not UTF-8");
        return;
      }
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      Fail("not UTF-8 (overlong, a surrogate, or past U+10FFFF)");
      return;
    }
    at_ += extra + 1;
    if (code < 0x10000) {
      *out += static_cast<char16_t>(code);
    } else {
      *out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      *out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }

  std::optional<Value> String() {
    Value string;
    string.kind = Value::Kind::kString;
    ++at_;
    while (error_.empty()) {
      if (!More()) Fail("a string without its end");
      if (!error_.empty()) break;
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') {
        ++at_;
        return string;
      }
      if (c < 0x20) Fail("a control character inside a string");
      if (c >= 0x80) {
        Utf8(&string.string);
        continue;
      }
      ++at_;
      if (c != '\\') {
        string.string += static_cast<char16_t>(c);
        continue;
      }
      static constexpr std::string_view kEscapes = "\"\\/bfnrt";
      static constexpr std::u16string_view kMeanings = u"\"\\/\b\f\n\r\t";
      const char escape = Peek();
      ++at_;
      if (escape == 'u') {
        string.string += Hex4();
      } else if (const std::size_t which = kEscapes.find(escape); which != std::string_view::npos) {
        string.string += kMeanings[which];
      } else {
        Fail("an escape JSON does not have");
      }
    }
    return std::nullopt;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  int depth_ = 0;
  std::string error_;
};

}  // namespace

const Value* Value::Find(std::u16string_view name) const {
  for (std::size_t at = 0; at < names.size(); ++at) {
    if (names[at] == name) return &members[at];
  }
  return nullptr;
}

std::optional<Value> Parse(std::string_view text, std::string* error) {
  return Reader(text).Document(error);
}

}  // namespace tarvox::json
