#include "multisz/MultiSz.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "multisz/Names.h"
#include "platform/RunState.h"

namespace tarvox {
namespace {

// The index of the NUL that ends the entry starting at `at`, or the span's
// size when the entry runs to its end.
std::size_t EntryEnd(std::span<const char16_t> units, std::size_t at) {
  while (at < units.size() && units[at] != u'\0') ++at;
  return at;
}

// Copies the list at the start of `source` to the start of `destination`,
// front to back, and closes it with two NULs. The two may lie in one buffer
// with the destination first: every unit is read before it can be written
// over. Stops at the end of either span.
void CopyListUnits(std::span<const char16_t> source,
                   std::span<char16_t> destination) {
  std::size_t from = 0;
  std::size_t to = 0;
  while (from < source.size() && source[from] != u'\0') {
    const std::size_t end = EntryEnd(source, from);
    while (from < end && to < destination.size()) {
      destination[to++] = source[from++];
    }
    if (to < destination.size()) destination[to++] = u'\0';
    from = end + 1;
  }
  for (int i = 0; i < 2 && to < destination.size(); ++i) {
    destination[to++] = u'\0';
  }
}

}  // namespace

int MultiSzCopy(MultiSz* destination, const MultiSz* source) {
  if (destination == nullptr || source == nullptr) return 0;
  CopyListUnits(source->units, destination->units);
  return 1;
}

int MultiSzRemove(MultiSz* list, const char16_t* name) {
  if (list == nullptr || name == nullptr) return 0;
  const std::u16string_view wanted(name);
  std::span<char16_t> units(list->units);
  std::size_t at = 0;
  while (at < units.size() && units[at] != u'\0') {
    const std::size_t end = EntryEnd(units, at);
    if (SameName(std::u16string_view(&units[at], end - at), wanted)) {
      // Shift the rest of the list down over this entry and judge the entry
      // that moves in here next.
      const std::size_t next = std::min(end + 1, units.size());
      CopyListUnits(units.subspan(next), units.subspan(at));
    } else {
      at = end + 1;
    }
  }
  for (int i = 0; i < 2 && at < units.size(); ++i) units[at++] = u'\0';
  return 1;
}

int MultiSzLength(const MultiSz* list) {
  if (list == nullptr) return -1;
  const std::span<const char16_t> units(list->units);
  std::size_t at = 0;
  while (at < units.size() && units[at] != u'\0') {
    const std::size_t end = EntryEnd(units, at);
    if (end + 1 >= units.size() || units[end + 1] == u'\0') {
      return static_cast<int>(end);
    }
    at = end + 1;
  }
  return 0;
}

std::vector<std::u16string> MultiSzEntries(const MultiSz& list) {
  const std::span<const char16_t> units(list.units);
  std::vector<std::u16string> entries;
  std::size_t at = 0;
  while (at < units.size() && units[at] != u'\0') {
    const std::size_t end = EntryEnd(units, at);
    entries.emplace_back(&units[at], end - at);
    at = end + 1;
  }
  return entries;
}

Status QueryValueZeroFill(const RegKey& key, std::u16string_view value_name,
                          std::uint32_t* type, void* data,
                          std::uint32_t* size) {
  if (type == nullptr || data == nullptr || size == nullptr) {
    return win::kInvalidParameter;
  }
  const std::uint32_t capacity = *size;
  const Status status = key.QueryValue(value_name, type, data, size);
  if (status == win::kSuccess && *type == win::kRegMultiSz &&
      *size < capacity) {
    std::memset(static_cast<unsigned char*>(data) + *size, 0,
                capacity - *size);
  }
  return status;
}

int ValueExists(const RegKey& key, std::u16string_view value_name) {
  // Asked for its size only, a value of any size answers: a backup too large
  // for a list buffer still exists and must not be overwritten. Only "not
  // found" means absent; a query that fails otherwise cannot tell, and the
  // value is taken as there.
  std::uint32_t size = 0;
  return key.QueryValue(value_name, nullptr, nullptr, &size) ==
                 win::kFileNotFound
             ? 0
             : 1;
}

int WriteMultiSzOrDelete(const RegKey& key, std::u16string_view value_name,
                         const MultiSz* list, std::uint32_t byte_length) {
  if (list == nullptr) return 0;
  Status status;
  if (byte_length != 0) {
    if (byte_length > MultiSz::kBytes) return 0;
    status = key.SetValue(value_name, win::kRegMultiSz, list->data(),
                          byte_length + 4);
  } else {
    status = key.DeleteValue(value_name);
  }
  if (status != win::kSuccess) return 0;
  g_changesMade = 1;
  return 1;
}

}  // namespace tarvox
