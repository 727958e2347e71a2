// A strict reader of JSON (RFC 8259), for holding the check's --json report
// to what it says: one value and nothing after it but white space; strings
// in valid UTF-8 with only JSON's escapes and no raw control characters;
// numbers as the grammar spells them; no trailing commas. A \u escape of a
// lone surrogate is read as that unit, as the report writes a name that is
// not valid UTF-16.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvox::json {

struct Value {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string number;     // as written
  std::u16string string;  // UTF-16, as the report's model holds text
  std::vector<Value> items;
  std::vector<std::u16string> names;  // of an object's members, in order
  std::vector<Value> members;         // ... and their values

  // The member of that name, or null when there is none.
  const Value* Find(std::u16string_view name) const;
};

// The document, or nothing with `*error` saying where and why.
std::optional<Value> Parse(std::string_view text, std::string* error);

}  // namespace tarvox::json
