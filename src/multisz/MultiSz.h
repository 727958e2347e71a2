// Lists of names in the REG_MULTI_SZ layout, held in a fixed buffer while a
// check judges them, and the registry helpers that read and write them.
//
// Layout: entries, each a non-empty string ended by a NUL, closed by an empty
// entry (one more NUL). [a, b] is "a\0b\0\0"; the empty list is "\0". The
// list ends at its closing empty entry; units after it are not part of it.
// Its length is the index of the NUL that ends its last entry ([a, b]: 3),
// and a list of length n is stored as 2n + 4 bytes, both final NULs included.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegKey.h"

namespace tarvox {

struct MultiSz {
  // What a read may fill: 1024 units, 2048 bytes. Every read into the buffer
  // passes kBytes as its capacity, so stored data of up to 2048 bytes fits.
  static constexpr std::size_t kUnits = 1024;
  static constexpr std::uint32_t kBytes = kUnits * sizeof(char16_t);

  // Units after the readable part that are always NUL. Whatever a read left
  // in the 1024 units (even 2048 bytes with no NUL at all, or an odd byte
  // count) is thus closed inside the buffer: the last entry ends at the first
  // guard at the latest, and the list one unit later. The third guard holds
  // the extra NUL that MultiSzCopy writes after the fullest possible list,
  // and the unit Windows looks at after string data being written. Nothing
  // is cut and nothing is read or written past the end.
  static constexpr std::size_t kGuardUnits = 3;

  std::array<char16_t, kUnits + kGuardUnits> units{};  // zero-filled

  void* data() { return units.data(); }
  const void* data() const { return units.data(); }
};

// Copies the source list into the destination, entry by entry, then closes
// it with two NULs (one unit more than the source uses). 0 when either
// buffer is missing, else 1.
int MultiSzCopy(MultiSz* destination, const MultiSz* source);

// Removes every entry equal to `name` (letters A to Z folded, nothing else),
// keeping the order of the others. 0 when either argument is missing, else 1,
// also when nothing was removed.
int MultiSzRemove(MultiSz* list, const char16_t* name);

// The list's length in units: the index of the NUL that ends its last entry,
// 0 for the empty list, -1 for a missing buffer.
int MultiSzLength(const MultiSz* list);

// The list's entries in their order, duplicates included.
std::vector<std::u16string> MultiSzEntries(const MultiSz& list);

// RegQueryValueExW that leaves no stale bytes behind a multi-string: after a
// successful read of a REG_MULTI_SZ value, every byte from the value's end to
// the capacity given in `size` is zeroed. Other types, and failures, leave the
// buffer as Windows left it. Returns the query's result; 87 when `type`,
// `data` or `size` is missing.
Status QueryValueZeroFill(const RegKey& key, std::u16string_view value_name,
                          std::uint32_t* type, void* data,
                          std::uint32_t* size);

// 0 when the value is known to be absent (the query answers "not found"),
// else 1: a value of any type and size (empty too) exists, and one whose
// query fails otherwise may. The key needs KEY_QUERY_VALUE.
int ValueExists(const RegKey& key, std::u16string_view value_name);

// Stores the list as REG_MULTI_SZ of byte_length + 4 bytes, or deletes the
// value when byte_length is 0. Callers pass twice the list's length, so the
// value is exactly the list with both final NULs. 1 and g_changesMade raised
// when Windows did it; 0 and the flag untouched when it did not, when the
// list is missing, or when the length would reach past the buffer. The key
// needs KEY_SET_VALUE.
int WriteMultiSzOrDelete(const RegKey& key, std::u16string_view value_name,
                         const MultiSz* list, std::uint32_t byte_length);

}  // namespace tarvox
