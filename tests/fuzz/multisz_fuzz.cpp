// Any bytes a read can leave in a MultiSz buffer: the list operations stay
// inside the buffer and agree with a plain model of the list.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "multisz/MultiSz.h"
#include "multisz/Names.h"

using tarvox::MultiSz;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool GuardsAreNul(const MultiSz& list) {
  return std::all_of(list.units.end() - MultiSz::kGuardUnits, list.units.end(),
                     [](char16_t unit) { return unit == u'\0'; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The first two bytes pick the name to remove: an entry, or the bytes of
  // the input's end. The rest is what a read put into the buffer.
  if (size < 2) return 0;
  const std::size_t pick = data[0] | (data[1] << 8);
  data += 2;
  size -= 2;
  MultiSz list;
  std::memcpy(list.data(), data, std::min<std::size_t>(size, MultiSz::kBytes));

  const std::vector<std::u16string> entries = tarvox::MultiSzEntries(list);
  const int length = tarvox::MultiSzLength(&list);
  std::size_t expected_length = 0;
  for (const auto& entry : entries) expected_length += entry.size() + 1;
  Check(length == (entries.empty() ? 0 : static_cast<int>(expected_length) - 1));
  Check(length <= static_cast<int>(MultiSz::kUnits));

  MultiSz saved;
  Check(tarvox::MultiSzCopy(&saved, &list) == 1);
  Check(tarvox::MultiSzEntries(saved) == entries);
  Check(GuardsAreNul(saved));

  std::u16string name;
  if (!entries.empty() && pick % 2 == 0) {
    name = entries[(pick / 2) % entries.size()];
  } else {
    name.assign(reinterpret_cast<const char16_t*>(data),
                std::min<std::size_t>(size / 2, 8));
    name = name.substr(0, name.find(u'\0'));
  }
  Check(tarvox::MultiSzRemove(&list, name.c_str()) == 1);
  std::vector<std::u16string> kept;
  for (const auto& entry : entries) {
    if (!tarvox::SameName(entry, name)) kept.push_back(entry);
  }
  Check(tarvox::MultiSzEntries(list) == kept);
  Check(GuardsAreNul(list));
  return 0;
}
