// Just enough JSON to read TarvoxCheck.exe's report in a test: objects,
// arrays, strings (with \u escapes, as UTF-16), numbers, true, false, null.
// A document it cannot read yields a null value and fails the test.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvox::wintest::json {

struct Value {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::u16string text;
  std::vector<Value> items;
  std::map<std::string, Value> members;

  const Value& operator[](const std::string& name) const {
    static const Value kNone;
    const auto it = members.find(name);
    return it == members.end() ? kNone : it->second;
  }
};

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  Value Document() {
    Value value = Parse();
    Blanks();
    if (at_ != text_.size()) Fail("text after the document");
    return failed_ ? Value{} : value;
  }

 private:
  void Fail(const char* why) {
    if (!failed_) ADD_FAILURE() << "JSON: " << why << " at " << at_;
    failed_ = true;
    at_ = text_.size();
  }
  void Blanks() {
    while (at_ < text_.size() && std::string_view(" \t\r\n").find(text_[at_]) != std::string_view::npos) {
      ++at_;
    }
  }
  bool Take(char c) {
    Blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }
  Value Parse() {
    Value value;
    Blanks();
    if (Take('{')) {
      value.kind = Value::Kind::kObject;
      if (Take('}')) return value;
      do {
        Value name = Parse();
        if (name.kind != Value::Kind::kString || !Take(':')) {
          Fail("object member");
          return {};
        }
        value.members[std::string(name.text.begin(), name.text.end())] = Parse();
      } while (Take(','));
      if (!Take('}')) Fail("object end");
    } else if (Take('[')) {
      value.kind = Value::Kind::kArray;
      if (Take(']')) return value;
      do value.items.push_back(Parse());
      while (Take(','));
      if (!Take(']')) Fail("array end");
    } else if (Take('"')) {
      value.kind = Value::Kind::kString;
      value.text = String();
    } else if (Word("true") || Word("false")) {
      value.kind = Value::Kind::kBool;
      value.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
    } else if (Word("null")) {
    } else {
      std::size_t used = 0;
      value.kind = Value::Kind::kNumber;
      try {
        value.number = std::stod(std::string(text_.substr(at_, 32)), &used);
      } catch (...) {
        Fail("value");
      }
      at_ += used;
    }
    return value;
  }
  // A string's characters up to its closing quote, UTF-8 read as UTF-16.
  std::u16string String() {
    std::u16string text;
    while (at_ < text_.size() && text_[at_] != '"') {
      auto c = static_cast<unsigned char>(text_[at_++]);
      if (c == '\\' && at_ < text_.size()) {
        const char escaped = text_[at_++];
        if (escaped == 'u') {
          text += static_cast<char16_t>(std::stoi(std::string(text_.substr(at_, 4)), nullptr, 16));
          at_ += 4;
        } else {
          text += static_cast<char16_t>(escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped);
        }
        continue;
      }
      std::uint32_t code = c;
      int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
      if (more) code = c & (0x3F >> more);
      for (; more > 0 && at_ < text_.size(); --more) {
        code = (code << 6) | (static_cast<unsigned char>(text_[at_++]) & 0x3F);
      }
      if (code >= 0x10000) {
        text += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
        text += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
      } else {
        text += static_cast<char16_t>(code);
      }
    }
    if (!Take('"')) Fail("string end");
    return text;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  bool failed_ = false;
};

inline Value Parse(std::string_view text) { return Reader(text).Document(); }

}  // namespace tarvox::wintest::json
