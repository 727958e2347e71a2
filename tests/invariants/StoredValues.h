// Values and files as the invariants compare them: the stored bytes of a
// value, the names Windows reads from them, and the comparisons every rule
// uses. Test support only.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "invariants/RunInvariants.h"
#include "multisz/MultiSz.h"
#include "multisz/Names.h"
#include "support/memory/MemoryFold.h"
#include "support/memory/MemoryPlatform.h"

namespace tarvox::invariants {

using memory::Fold;
using Stored = MemoryPlatform::StoredValue;

inline std::u16string FoldAz(std::u16string_view text) {
  std::u16string folded(text);
  for (auto& unit : folded) unit = FoldAsciiLetter(unit);
  return folded;
}

inline std::vector<std::u16string> EntriesOf(const Stored& value) {
  MultiSz list;
  std::memcpy(list.data(), value.bytes.data(),
              std::min<std::size_t>(value.bytes.size(), MultiSz::kBytes));
  return MultiSzEntries(list);
}

inline std::string ListBytes(const std::vector<std::u16string>& entries) {
  std::u16string units;
  for (const auto& entry : entries) units += entry + u'\0';
  units += u'\0';
  return std::string(reinterpret_cast<const char*>(units.data()),
                     units.size() * 2);
}

// What Windows reads from a single string: the one name it holds.
inline Stored Converted(const Stored& value) {
  if (value.type != win::kRegSz) return value;
  std::u16string text(std::min<std::size_t>(value.bytes.size() / 2, MultiSz::kUnits),
                      u'\0');
  std::memcpy(text.data(), value.bytes.data(), text.size() * 2);
  text.resize(std::min(text.find(u'\0'), text.size()));
  if (text.empty()) return {win::kRegMultiSz, std::string(4, '\0')};
  return {win::kRegMultiSz, ListBytes({text})};
}

inline std::string WithoutTrailingNuls(std::string bytes) {
  while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  return bytes;
}

// Whether putting the names Windows reads from `value` in its place (or
// nothing, when it holds none) drops stored data. Trailing NULs are no data.
inline bool RewriteDropsData(const Stored& value) {
  return WithoutTrailingNuls(ListBytes(EntriesOf(Converted(value)))) !=
         WithoutTrailingNuls(value.bytes);
}

inline bool Same(const std::optional<Stored>& a, const std::optional<Stored>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->type == b->type && a->bytes == b->bytes);
}

// The entries as read less every spelling of the names that went, in order.
inline bool IsPruningOf(const std::vector<std::u16string>& kept,
                 const std::vector<std::u16string>& read) {
  std::set<std::u16string> staying;
  for (const auto& entry : kept) staying.insert(FoldAz(entry));
  std::vector<std::u16string> expected;
  for (const auto& entry : read) {
    if (staying.count(FoldAz(entry)) != 0) expected.push_back(entry);
  }
  return expected == kept;
}

inline constexpr std::u16string_view kTempLog = u"\\TARVOXTMP.LOG";  // as Fold spells it
inline constexpr std::u16string_view kFinalLog = u"\\TARVOX.LOG";

inline bool IsLogFile(std::u16string_view folded_path) {
  return folded_path.ends_with(kTempLog) || folded_path.ends_with(kFinalLog);
}

inline std::optional<Stored> Find(const RunSnapshot::Values& values,
                           std::u16string_view key, std::u16string_view name) {
  const auto it = values.find({Fold(key), Fold(name)});
  if (it == values.end()) return std::nullopt;
  return it->second.value;
}

inline std::u16string TextOf(const Stored& value) {
  std::u16string text(value.bytes.size() / 2, u'\0');
  std::memcpy(text.data(), value.bytes.data(), text.size() * 2);
  return text.substr(0, std::min(text.find(u'\0'), text.size()));
}

}  // namespace tarvox::invariants
