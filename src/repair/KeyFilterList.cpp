#include "repair/KeyFilterList.h"

#include <string>

#include "log/RunLog.h"
#include "repair/FilterList.h"
#include "repair/Places.h"
#include "repair/RunContext.h"

namespace tarvox {
namespace {

// The name of the backup a repair writes: "_1" keeps the first list ever
// repaired and is never written again; "_2" holds the list before the latest
// repair. A "_1" of any size counts, so the first list is never lost.
std::u16string KeyBackupValueName(const RegKey& key, std::u16string_view valueName) {
  const std::u16string first = BackupValueName(valueName, kFirstBackup);
  return ValueExists(key, first) == 0 ? first : BackupValueName(valueName, kLatestBackup);
}

// How the list of a key is changed: the value as read saved beside it; the
// list written, or the value deleted when no name is left; a list that
// holds no name deleted (with no reboot), unless the value is of another
// type, which is no list at all and stays.
ListWrites KeyListWrites(RunContext& run, const FilterListKey& where, const RegKey& key,
                         std::u16string_view valueName, const ListAsRead& read) {
  const auto tell = [&run](RunEvent event) {
    run.Tell([&](RunObserver& observer) { observer.Did(event); });
  };
  ListWrites writes;
  writes.back_up = [&where, &key, valueName, &read, tell] {
    const std::u16string backup = KeyBackupValueName(key, valueName);
    if (WriteBackupValue(key, backup, read) != 1) return false;
    tell({RunEvent::Kind::kBackupWritten, std::u16string(where.path), backup, {}});
    return true;
  };
  writes.write = [&where, &key, valueName, tell](const MultiSz& list, bool pruned) {
    const int length = MultiSzLength(&list);
    if (!pruned) {
      const auto bytes = static_cast<std::uint32_t>(length * 2 + 4);
      if (key.SetValue(valueName, win::kRegMultiSz, list.data(), bytes) != win::kSuccess) return 0;
      tell({RunEvent::Kind::kListWritten, {}, {}, MultiSzEntries(list)});
      return 1;
    }
    const int result = WriteMultiSzOrDelete(key, valueName, &list, static_cast<std::uint32_t>(2 * length));
    if (result == 1) {
      tell(length > 0 ? RunEvent{RunEvent::Kind::kListWritten, {}, {}, MultiSzEntries(list)}
                      : RunEvent{RunEvent::Kind::kValueDeleted, {}, {}, {}});
    }
    return result == 1 || !where.fails_when_list_not_written ? 1 : 0;
  };
  if (read.type == win::kRegMultiSz || read.single_string) {
    writes.remove_empty = [&key, valueName, tell] {
      if (key.DeleteValue(valueName) == win::kSuccess) {
        tell({RunEvent::Kind::kValueDeleted, {}, {}, {}});
      }
      return 1;
    };
  }
  return writes;
}

}  // namespace

int RepairFilterListInKey(Platform& os, RunContext& run, const FilterListKey& where,
                          std::u16string_view valueName) {
  run.Tell([&](RunObserver& observer) {
    observer.Place({std::u16string(where.path), std::u16string(valueName), -1, {}, 0});
  });
  RegKey key(os);
  const Status opened =
      key.Open(where.path, win::kKeyQueryValue | win::kKeySetValue);
  if (opened == win::kFileNotFound && where.none_since_windows_8 &&
      os.OsVersion().AtLeast(6, 2)) {
    // Windows 8 and later keep no critical device database: no list is
    // there to repair, and its absence is no fault worth a line (a line
    // would also replace the older log, which may be the only record of an
    // earlier repair).
    run.Tell([](RunObserver& observer) { observer.NotThere(); });
    return 0;
  }
  if (opened != win::kSuccess) {
    run.Tell([&](RunObserver& observer) { observer.NotRead(opened, true); });
  }
  if (opened == win::kAccessDenied && where.ends_run_when_denied) {
    RunLog << Message::kNotEnoughRights << kEndLine;
    run.End(-1);
    return 0;
  }
  if (opened != win::kSuccess) {
    RunLog << Message::kCouldNotOpenKey << kEndLine;
    RunLog << where.path << kEndLine;
    return 0;
  }

  // A value that is missing or larger than the buffer is left alone.
  const ListReader read_list = [&](ListAsRead* read) {
    read->size = MultiSz::kBytes;
    const Status status = QueryValueZeroFill(key, valueName, &read->type,
                                             read->stored.data(), &read->size);
    if (status == win::kSuccess) SingleStringToList(read);
    return status;
  };
  return RepairListAsItNowIs(run, read_list, [&](const ListAsRead& read) {
    return RepairReadList(os, run, read_list, read, KeyListWrites(run, where, key, valueName, read));
  });
}

int RepairClassFilterList(Platform& os, RunContext& run, std::u16string_view valueName) {
  return RepairFilterListInKey(os, run, kClassFilterLists, valueName);
}

int RepairCriticalDeviceFilterList(Platform& os, RunContext& run,
                                   std::u16string_view valueName) {
  return RepairFilterListInKey(os, run, kCriticalDeviceFilterLists, valueName);
}

}  // namespace tarvox
