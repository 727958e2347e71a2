// What every filter-list repair shares, in the class key, the critical-device
// entry and each CD-ROM device: the list as it was read, the list Windows
// reads from it, the judging of the names, and the backup.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "multisz/MultiSz.h"
#include "platform/RegKey.h"

namespace tarvox {

class RunContext;

// A value as stored: its type and bytes.
struct StoredValue {
  std::uint32_t type = 0;
  std::string bytes;
};

// A filter list as it was read, and the list Windows reads from it.
struct ListAsRead {
  // The value's data exactly as read, its type and byte count: what a backup
  // holds, so nothing that was stored is lost by a change.
  MultiSz stored;
  std::uint32_t type = win::kRegNone;
  std::uint32_t size = 0;
  // The names Windows reads: the data as a list, or for a single string
  // (REG_SZ) the one name it holds.
  MultiSz list;
  // Stored as a single string: the list is to be written as REG_MULTI_SZ.
  bool single_string = false;
  // Writing `list` in place of the value would drop stored data: a single
  // string with more than NULs after its name (often the rest of a list an
  // installer wrote with the wrong type), or an empty list with more than
  // NULs in it. Such a change is backed up first, like a pruned list.
  bool rewrite_drops_data = false;
};

// Fills `read->list` and the two flags from what was read into
// `read->stored`. Windows reads a single-string (REG_SZ) filter value as one
// name: its text up to its first NUL, or all of its data when it has none;
// the list holds just that name, closed. Units after the text were never a
// filter and must not become one; a text that fills the whole buffer still
// fits, with the buffer's guard units. Every other type is taken as a list
// as it stands.
void SingleStringToList(ListAsRead* read);

// The rule for one entry, applied to every entry of `as_read` in list order:
// a name whose service is reported missing is removed and nothing else is
// asked; otherwise a name whose service is not enabled is removed, and the
// driver file is checked in any case (so a missing driver may be restored,
// and logged, although the name goes); a driver reported missing and not
// restored removes the name. A question that cannot be answered removes
// nothing, and a name whose service cannot be looked up is not judged at
// all. A name that passed every question earlier in the run is not asked
// again (the run's kept passes). Names leave `working` through
// MultiSzRemove, every entry equal to them at once. True when any entry was
// rejected.
bool PruneFilterList(Platform& os, RunContext& run, const MultiSz& as_read, MultiSz* working);

// Another program (an installer adding its own filter) may change a list
// while its names are judged, which takes tens of milliseconds on a large
// machine; writing what was judged would lose that change. So a list is
// read again right before each write, its backup's included, and a list
// that no longer holds the data that was judged is judged anew as it now
// is. One that changes every time is left as it is, unjudged, for this run.
inline constexpr int kJudgingsPerList = 3;
// What a repair of a list judged as read gives when the list changed since:
// none of the results and verdicts a repair gives otherwise (1, 0,
// kCannotTell, kNotAsked).
inline constexpr int kListChanged = -3;

// Reads a list (a key's value, a device's property) as a repair reads it.
using ListReader = std::function<Status(ListAsRead*)>;

// Whether the list, read again, holds exactly the data that was judged
// (type, size and bytes): 1 yes, 0 no, kCannotTell when it cannot be read
// again.
int StillAsJudged(const ListReader& read_list, const ListAsRead& judged);

// Makes the change of a list judged as `judged`: `back_up` first, unless
// empty, then `write`; before each, the list is read again. kListChanged
// when it no longer held what was judged (nothing more was written); 0
// when it could not be read again (whether it changed cannot be told, so
// it is left as it is) or the backup failed (nothing else written: the
// content as read would be kept nowhere); else what `write` gave.
int WriteJudgedList(const ListReader& read_list, const ListAsRead& judged,
                    const std::function<bool()>& back_up,
                    const std::function<int()>& write);

// Which list is judged, for what the run's observer is told of it: a
// filter list's reads, or only the co-installer list's failure to be read.
enum class JudgedList { kFilters, kCoInstallers };

// How one list of a place is changed: its backup, its write, and what
// becomes of a list that holds no name.
struct ListWrites {
  // Saves the list as read; false when it could not be saved (then nothing
  // else is written: its content would be kept nowhere).
  std::function<bool()> back_up;
  // Writes `list`: the pruned list (`pruned`), or the one name Windows reads
  // from a single string, as a list. What the repair of the list gives.
  std::function<int(const MultiSz& list, bool pruned)> write;
  // Removes a list that holds no name; none: such a list stays.
  std::function<int()> remove_empty;
};

// One judging of the list as read, and its change, the same for a key's
// list and a device's: every name judged (PruneFilterList), then the
// backup first where a change loses stored data, and the write (through
// WriteJudgedList, which reads the list again before each). A single string
// whose one name stays becomes the list of that name. kListChanged when the
// list changed before it could be written.
int RepairReadList(Platform& os, RunContext& run, const ListReader& read_list,
                   const ListAsRead& read, const ListWrites& writes);

// Reads the list and has `repair` judge and change it, again while the
// list was changed meanwhile, at most kJudgingsPerList times. Tells the run
// observer what was read. 0 when the list could not be read or kept
// changing, else the last repair's result.
int RepairListAsItNowIs(RunContext& run, const ListReader& read_list,
                        const std::function<int(const ListAsRead&)>& repair,
                        JudgedList judged = JudgedList::kFilters);

// What a backup of `read` stores: the value as it was read, its type and
// its bytes, nothing added.
StoredValue BackupValueOf(const ListAsRead& read);
// Stores it under `name`. 1 when Windows took it, else 0. A backup alone
// needs no reboot, so g_changesMade is left alone.
int WriteBackupValue(const RegKey& key, std::u16string_view name,
                     const ListAsRead& read);

}  // namespace tarvox
