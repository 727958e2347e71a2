// Putting a filter name back into the lists a repair removed it from, from
// the backups the repair wrote: the undo of a removal whose evidence did not
// last (a service disabled while someone looked into a fault, a driver file
// replaced at the moment a repair looked).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "restore/Backups.h"

namespace tarvox::restore {

// Why `name` is not to be put back: a repair would remove it again now (no
// service, a start type Windows does not load, a driver file missing), or
// whether it would cannot be told (a key or file that cannot be looked at:
// a filter that may not load must not be attached again). Empty when its
// service is there, may start, and its driver file is there. Reads only;
// the Windows folder (g_systemRoot) must be known.
std::u16string WhyNotPutBack(Platform& os, std::u16string_view name);

// `names` with `name` put back as it stood in `backup`: spelled as there,
// before the first name that followed it there and is still in `names`
// (looked for after the names that stood before it there), else at the
// end.
std::vector<std::u16string> PutBackInto(const std::vector<std::u16string>& names,
                                        const std::vector<std::u16string>& backup,
                                        std::u16string_view name);

// A list that gets `name` again.
struct Put {
  int site = -1;
  int backup = -1;  // the latest backup of that list that holds the name
  std::vector<std::u16string> after;
};

// A backup that holds the name but is not used, and why.
struct NotUsed {
  int backup = -1;
  std::u16string why;
};

struct Plan {
  std::vector<Put> puts;
  std::vector<NotUsed> not_used;
};

// What putting `name` back changes: every list that lacks it and one of
// whose backups holds it gets it again, placed as in the latest of them (a
// `_2` is later than a `_1`). Backups are never changed.
Plan PlanPutBack(const MachineLists& lists, std::u16string_view name);

// Puts `name` back into the list of `site` as it is at this moment (read
// again right before the write, so that what another program wrote since
// stays), placed as in `backup`. Empty when Windows took the write, with the
// list written in `*after`; else why not.
std::u16string MakePut(Platform& os, const Site& site, const Backup& backup,
                       std::u16string_view name, std::vector<std::u16string>* after);

}  // namespace tarvox::restore
