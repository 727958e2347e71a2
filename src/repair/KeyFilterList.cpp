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

// One judging of the list as read, and its change; kListChanged when the
// list changed before it could be written.
int RepairListInKey(Platform& os, RunContext& run, const FilterListKey& where, const RegKey& key,
                    std::u16string_view valueName, const ListReader& read_list,
                    const ListAsRead& read) {
  // Before a change that loses what was stored, the value as read is saved;
  // when it cannot be, the value is left as read, for its content would be
  // kept nowhere.
  const std::function<bool()> back_up = [&] {
    const std::u16string backup = KeyBackupValueName(key, valueName);
    if (WriteBackupValue(key, backup, read) != 1) return false;
    run.Tell([&](RunObserver& observer) {
      observer.Did({RunEvent::Kind::kBackupWritten, std::u16string(where.path), backup, {}});
    });
    return true;
  };
  const auto deleted = [&] {
    run.Tell([](RunObserver& observer) { observer.Did({RunEvent::Kind::kValueDeleted, {}, {}, {}}); });
  };
  const auto written = [&](const MultiSz& list) {
    run.Tell([&](RunObserver& observer) {
      observer.Did({RunEvent::Kind::kListWritten, {}, {}, MultiSzEntries(list)});
    });
  };
  const std::function<bool()> no_backup;

  if (MultiSzLength(&read.list) == 0) {
    // An empty list is removed, with no reboot. A value of another type that
    // holds no name is not a list at all: it stays.
    if (read.type != win::kRegMultiSz && !read.single_string) return 1;
    return WriteJudgedList(read_list, read, read.rewrite_drops_data ? back_up : no_backup, [&] {
      if (key.DeleteValue(valueName) == win::kSuccess) deleted();
      return 1;
    });
  }

  MultiSz working;
  MultiSzCopy(&working, &read.list);
  const bool pruned = PruneFilterList(os, run, read.list, &working);
  if (!pruned && !read.single_string) return 1;
  if (!pruned) {
    // A single string becomes the list of the one name Windows reads from
    // it, before and after: no reboot.
    return WriteJudgedList(read_list, read, read.rewrite_drops_data ? back_up : no_backup, [&] {
      const auto bytes = static_cast<std::uint32_t>(MultiSzLength(&read.list) * 2 + 4);
      if (key.SetValue(valueName, win::kRegMultiSz, read.list.data(), bytes) != win::kSuccess) {
        return 0;
      }
      written(read.list);
      return 1;
    });
  }
  return WriteJudgedList(read_list, read, back_up, [&] {
    const int length = MultiSzLength(&working);
    const int result =
        WriteMultiSzOrDelete(key, valueName, &working, static_cast<std::uint32_t>(2 * length));
    if (result == 1) length > 0 ? written(working) : deleted();
    return result == 1 || !where.fails_when_list_not_written ? 1 : 0;
  });
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
    return RepairListInKey(os, run, where, key, valueName, read_list, read);
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
