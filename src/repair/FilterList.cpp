#include "repair/FilterList.h"

#include <algorithm>
#include <string>

#include "services/DriverFile.h"
#include "services/PassedNames.h"
#include "services/Services.h"

namespace tarvox {
namespace {

// Whether any of the bytes of `read->stored` from `from` to its end is not
// zero. Trailing NULs are not data.
bool DataAfter(const ListAsRead& read, std::size_t from) {
  const auto* bytes = static_cast<const unsigned char*>(read.stored.data());
  const std::size_t end = std::min<std::size_t>(read.size, MultiSz::kBytes);
  return std::any_of(bytes + std::min(from, end), bytes + end,
                     [](unsigned char byte) { return byte != 0; });
}

}  // namespace

void SingleStringToList(ListAsRead* read) {
  read->list = read->stored;
  read->single_string = read->type == win::kRegSz;
  if (!read->single_string) {
    // An empty list goes as a whole; whatever stands in it besides NULs is
    // data nobody reads, but data all the same.
    read->rewrite_drops_data =
        MultiSzLength(&read->list) == 0 && DataAfter(*read, 0);
    return;
  }
  auto& units = read->list.units;
  // Only the units the read wrote are text.
  const std::size_t written = std::min<std::size_t>(read->size / 2, MultiSz::kUnits);
  const auto end = std::find(units.begin(), units.begin() + written, u'\0');
  std::fill(end, units.end(), u'\0');
  read->rewrite_drops_data =
      DataAfter(*read, static_cast<std::size_t>(end - units.begin()) * 2);
}

bool PruneFilterList(Platform& os, const MultiSz& as_read, MultiSz* working) {
  bool changed = false;
  const auto remove = [&](const std::u16string& name) {
    MultiSzRemove(working, name.c_str());
    changed = true;
  };
  for (const std::u16string& name : MultiSzEntries(as_read)) {
    // A name that passed every question earlier in the run passes again:
    // nothing it was judged on has changed since.
    if (g_passedNames.Has(name)) continue;
    // Each service's key is opened once for its name, for all three
    // questions.
    RegKey service(os);
    const int exists = OpenService(os, name, &service);
    if (exists == 0) {
      remove(name);
      continue;
    }
    if (exists != 1) continue;  // not looked up: not judged, it stays
    const int enabled = IsServiceEnabled(service, u"Start");
    if (enabled == 0) remove(name);
    const int driver = CheckDriverFile(os, name, service);
    if (driver == 0) remove(name);
    if (enabled == 1 && driver == 1) g_passedNames.Add(name);
  }
  return changed;
}

int WriteBackupValue(const RegKey& key, std::u16string_view name,
                     const ListAsRead& read) {
  // Windows adds a NUL to string data that lacks one when the unit after the
  // data is NUL; a non-zero unit there keeps the bytes exactly as read.
  const auto size = static_cast<std::uint32_t>(
      std::min<std::size_t>(read.size, MultiSz::kBytes));
  std::string bytes(static_cast<const char*>(read.stored.data()), size);
  bytes.append("\xff\xff", 2);
  return key.SetValue(name, read.type, bytes.data(), size) == win::kSuccess
             ? 1
             : 0;
}

}  // namespace tarvox
