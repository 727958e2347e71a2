#include "repair/CoInstaller.h"

#include <algorithm>

#include "log/RunLog.h"
#include "multisz/MultiSz.h"
#include "platform/RegKey.h"
#include "platform/RunState.h"
#include "repair/FilterList.h"
#include "repair/RunContext.h"
#include "services/FilePresence.h"

namespace tarvox {
namespace {

// An entry names its DLL first, as "name.dll,EntryPoint": the file name is
// the text up to the first "." and the three units after it, or the whole
// entry when it is shorter. (So "x.dllx" names "x.dll", and "a.b.dll"
// names "a.b.d".) Empty when there is no "." at all.
std::u16string CoInstallerFileName(std::u16string_view entry) {
  const std::size_t dot = entry.find(u'.');
  if (dot == std::u16string_view::npos) return {};
  return std::u16string(entry.substr(0, dot + 4));
}

}  // namespace

namespace {

// One judging of the list as read, and its change; kListChanged when the
// list changed before it could be written.
int JudgeCoInstallerList(Platform& os, RunContext& run, const RegKey& key,
                         const ListReader& read_list, const ListAsRead& read) {
  // Only the first product entry is judged. Data of any type is read as a
  // list as it stands.
  MultiSz list = read.stored;
  const std::vector<std::u16string> entries = MultiSzEntries(list);
  const auto product = std::find_if(
      entries.begin(), entries.end(), [](const std::u16string& entry) {
        return entry.find(kProductCoInstallerMarker) != std::u16string::npos;
      });
  if (product == entries.end()) {
    run.Tell([](RunObserver& observer) { observer.CoInstaller(u"", u"", kNotAsked, 0); });
    return 0;
  }
  const std::u16string file_name = CoInstallerFileName(*product);
  const auto tell = [&](std::u16string_view dll, int present, Status look = 0) {
    run.Tell([&](RunObserver& observer) { observer.CoInstaller(*product, dll, present, look); });
    return present;
  };
  if (file_name.empty()) {
    tell(u"", kNotAsked);
    return 0;
  }
  // Without the Windows folder the DLL cannot be looked for (its path would
  // land in whatever drive is current), and a DLL that cannot be seen may
  // be there: either way the entry is not judged.
  if (g_systemRoot.empty()) return tell(u"", kCannotTell);
  const std::u16string dll = g_systemRoot + u"\\system32\\" + file_name;
  const Status look = os.FindPath(dll);
  const int present = tell(dll, FilePresence(look), look);
  if (present != 0) return present;

  MultiSzRemove(&list, product->c_str());
  // What is left is written back; an empty list as 4 zero bytes, the value
  // is kept. Another product's entry added meanwhile must not go with it.
  return WriteJudgedList(read_list, read, {}, [&] {
    const auto bytes = static_cast<std::uint32_t>(MultiSzLength(&list) * 2 + 4);
    // The reboot notice says the registry was corrected: it is asked for
    // only when Windows took the write.
    if (key.SetValue(kCdromClassGuid, win::kRegMultiSz, list.data(), bytes) ==
        win::kSuccess) {
      g_changesMade = 1;
      run.Tell([](RunObserver& observer) { observer.Did({RunEvent::Kind::kEntryRemoved, {}, {}, {}}); });
    }
    return 0;
  });
}

}  // namespace

int CheckCoInstaller(Platform& os, RunContext& run) {
  RegKey key(os);
  if (const Status opened =
          key.Open(kCoDeviceInstallersKey, win::kKeyQueryValue | win::kKeySetValue)) {
    run.Tell([&](RunObserver& observer) { observer.CoInstallerNotRead(opened); });
    RunLog << Message::kCouldNotOpenKey << kEndLine;
    RunLog << kCoDeviceInstallersKey << kEndLine;
    return 0;
  }
  // A value that cannot be read holds nothing to judge: a missing one, and
  // one larger than the buffer, after which Windows leaves the buffer's
  // content undefined. Either is passed over.
  const ListReader read_list = [&](ListAsRead* read) {
    read->size = MultiSz::kBytes;
    return QueryValueZeroFill(key, kCdromClassGuid, &read->type, read->stored.data(),
                              &read->size);
  };
  // A list that changed every time is left as it now is.
  return RepairListAsItNowIs(
      run, read_list,
      [&](const ListAsRead& read) { return JudgeCoInstallerList(os, run, key, read_list, read); },
      JudgedList::kCoInstallers);
}

}  // namespace tarvox
