// What every filter-list repair shares, in the class key, the critical-device
// entry and each CD-ROM device: the list as it was read, the turning of a
// single string into a list, the judging of the names, and the backup.
#pragma once

#include <cstdint>
#include <string_view>

#include "multisz/MultiSz.h"
#include "platform/RegKey.h"

namespace tarvox {

// A filter list as it was read: the buffer, and the type and byte count of
// the data stored, so a backup can hold exactly what was there.
struct ListAsRead {
  MultiSz list;
  std::uint32_t type = win::kRegNone;
  std::uint32_t size = 0;
};

// Windows reads a single-string (REG_SZ) filter value as one name: its text
// up to its first NUL, or all of its data when it has none. This makes the
// list hold just that name, closed, as REG_MULTI_SZ of 2n + 4 bytes. Units
// after the text were never a filter and must not become one; a text that
// fills the whole buffer still fits, with the buffer's guard units.
void SingleStringToList(ListAsRead* read);

// The rule for one entry, applied to every entry of `as_read` in list order:
// a name whose service does not exist is removed and nothing else is asked;
// otherwise a name whose service is not enabled is removed, and the driver
// file is checked in any case (so a missing driver may be restored, and
// logged, although the name goes); a missing driver removes the name. Names
// leave `working` through MultiSzRemove, every entry equal to them at once.
// True when any entry was rejected.
bool PruneFilterList(Platform& os, const MultiSz& as_read, MultiSz* working);

// Stores `read` under `name` exactly as it was read: its type and its bytes,
// nothing added. 1 when Windows took it, else 0. A backup alone needs no
// reboot, so g_changesMade is left alone.
int WriteBackupValue(const RegKey& key, std::u16string_view name,
                     const ListAsRead& read);

}  // namespace tarvox
