#include "repair/FilterList.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "repair/RunContext.h"
#include "services/DriverFile.h"
#include "services/Verdict.h"
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

namespace {

// Asks the questions about one name, in their order, as far as its answers
// let them go.
void JudgeName(Platform& os, RunContext& run, NameFinding* found) {
  // A name that passed every question earlier in the run passes again:
  // nothing it was judged on has changed since.
  if (run.passed().Has(found->name)) {
    found->passed_earlier = true;
    return;
  }
  // Each service's key is opened once for its name, for all three
  // questions.
  RegKey service(os);
  found->exists = OpenService(os, found->name, &service, &found->lookup);
  // A service reported missing goes; one not looked up is not judged.
  if (found->exists != 1) return;
  found->enabled = IsServiceEnabled(service, u"Start", &found->start);
  found->driver = CheckDriverFile(os, found->name, service, &found->driver_file);
  // A file appeared and one went: what was judged by files before may not
  // hold any more.
  if (found->driver_file.restored == 1) {
    run.passed().Forget();
    const std::u16string& path = found->driver_file.path;
    run.Tell([&](RunObserver& observer) {
      observer.Did({RunEvent::Kind::kDriverRestored, LoaderPath(BackupPathOf(path)), LoaderPath(path), {}});
    });
  }
  if (found->enabled == 1 && found->driver == 1) run.passed().Add(found->name);
}

}  // namespace

bool PruneFilterList(Platform& os, RunContext& run, const MultiSz& as_read, MultiSz* working) {
  bool changed = false;
  const auto remove = [&](const std::u16string& name) {
    MultiSzRemove(working, name.c_str());
    changed = true;
  };
  for (const std::u16string& name : MultiSzEntries(as_read)) {
    NameFinding found;
    found.name = name;
    JudgeName(os, run, &found);
    run.Tell([&](RunObserver& observer) { observer.Judged(found); });
    if (VerdictOn(found) == Verdict::kLeaves) remove(name);
  }
  return changed;
}

int StillAsJudged(const ListReader& read_list, const ListAsRead& judged) {
  ListAsRead now;
  if (read_list(&now) != win::kSuccess) return kCannotTell;
  const std::size_t bytes = std::min<std::size_t>(judged.size, MultiSz::kBytes);
  return now.type == judged.type && now.size == judged.size &&
                 std::memcmp(now.stored.data(), judged.stored.data(), bytes) == 0
             ? 1
             : 0;
}

int WriteJudgedList(const ListReader& read_list, const ListAsRead& judged,
                    const std::function<bool()>& back_up,
                    const std::function<int()>& write) {
  // Before each write: 1 when the list is as judged; a list that changed is
  // judged anew; one that cannot be read again is left as it is.
  const auto as_judged = [&] {
    const int still = StillAsJudged(read_list, judged);
    return still == 1 ? 1 : still == 0 ? kListChanged : 0;
  };
  if (back_up) {
    if (const int still = as_judged(); still != 1) return still;
    if (!back_up()) return 0;
  }
  if (const int still = as_judged(); still != 1) return still;
  return write();
}

int RepairReadList(Platform& os, RunContext& run, const ListReader& read_list,
                   const ListAsRead& read, const ListWrites& writes) {
  // Data besides the names is kept in a backup before a rewrite drops it.
  const std::function<bool()> back_up_if_dropped =
      read.rewrite_drops_data ? writes.back_up : std::function<bool()>();
  if (MultiSzLength(&read.list) == 0) {
    if (!writes.remove_empty) return 1;
    return WriteJudgedList(read_list, read, back_up_if_dropped, writes.remove_empty);
  }
  MultiSz working;
  MultiSzCopy(&working, &read.list);
  const bool pruned = PruneFilterList(os, run, read.list, &working);
  if (!pruned && !read.single_string) return 1;
  if (!pruned) {
    // A single string becomes the list of the one name Windows reads from
    // it, before and after: no reboot.
    return WriteJudgedList(read_list, read, back_up_if_dropped,
                           [&] { return writes.write(read.list, false); });
  }
  return WriteJudgedList(read_list, read, writes.back_up,
                         [&] { return writes.write(working, true); });
}

int RepairListAsItNowIs(RunContext& run, const ListReader& read_list,
                        const std::function<int(const ListAsRead&)>& repair, JudgedList judged) {
  const bool filters = judged == JudgedList::kFilters;
  for (int judging = 0; judging < kJudgingsPerList; ++judging) {
    ListAsRead read;
    if (const Status status = read_list(&read)) {
      run.Tell([&](RunObserver& observer) {
        filters ? observer.NotRead(status, false) : observer.CoInstallerNotRead(status);
      });
      return 0;
    }
    if (filters) run.Tell([&](RunObserver& observer) { observer.Read(read); });
    if (const int result = repair(read); result != kListChanged) return result;
  }
  if (filters) run.Tell([](RunObserver& observer) { observer.KeptChanging(); });
  return 0;
}

StoredValue BackupValueOf(const ListAsRead& read) {
  const auto size = std::min<std::size_t>(read.size, MultiSz::kBytes);
  return {read.type, std::string(static_cast<const char*>(read.stored.data()), size)};
}

int WriteBackupValue(const RegKey& key, std::u16string_view name,
                     const ListAsRead& read) {
  // Windows adds a NUL to string data that lacks one when the unit after the
  // data is NUL; a non-zero unit there keeps the bytes exactly as read.
  StoredValue backup = BackupValueOf(read);
  const auto size = static_cast<std::uint32_t>(backup.bytes.size());
  backup.bytes.append("\xff\xff", 2);
  return key.SetValue(name, read.type, backup.bytes.data(), size) == win::kSuccess
             ? 1
             : 0;
}

}  // namespace tarvox
