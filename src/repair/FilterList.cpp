#include "repair/FilterList.h"

#include <algorithm>
#include <string>

#include "services/DriverFile.h"
#include "services/Services.h"

namespace tarvox {

void SingleStringToList(ListAsRead* read) {
  auto& units = read->list.units;
  // Only the units the read wrote are text.
  const std::size_t written = std::min<std::size_t>(read->size / 2, MultiSz::kUnits);
  const auto end = std::find(units.begin(), units.begin() + written, u'\0');
  std::fill(end, units.end(), u'\0');
  read->type = win::kRegMultiSz;
  read->size = static_cast<std::uint32_t>(MultiSzLength(&read->list) * 2 + 4);
}

bool PruneFilterList(Platform& os, const MultiSz& as_read, MultiSz* working) {
  // The Services key is opened once for the list, and each service's key
  // once for its name, for all three questions.
  RegKey services(os);
  OpenServicesKey(&services);
  bool changed = false;
  for (const std::u16string& name : MultiSzEntries(as_read)) {
    RegKey service(os);
    if (OpenService(services, name, &service) == 0) {
      MultiSzRemove(working, name.c_str());
      changed = true;
      continue;
    }
    if (IsServiceEnabled(service, u"Start") == 0) {
      MultiSzRemove(working, name.c_str());
      changed = true;
    }
    if (CheckDriverFile(os, name, service) == 0) {
      MultiSzRemove(working, name.c_str());
      changed = true;
    }
  }
  return changed;
}

int WriteBackupValue(const RegKey& key, std::u16string_view name,
                     const ListAsRead& read) {
  // Windows adds a NUL to string data that lacks one when the unit after the
  // data is NUL; a non-zero unit there keeps the bytes exactly as read.
  const auto size = static_cast<std::uint32_t>(
      std::min<std::size_t>(read.size, sizeof read.list.units));
  std::string bytes(static_cast<const char*>(read.list.data()), size);
  bytes.append("\xff\xff", 2);
  return key.SetValue(name, read.type, bytes.data(), size) == win::kSuccess
             ? 1
             : 0;
}

}  // namespace tarvox
