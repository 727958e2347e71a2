// The "LowerFilters" and "UpperFilters" lists of the CD-ROM class key and of
// the CD-ROM entry of the critical device database: every name whose service
// is missing, not enabled or without its driver file is removed, after the
// list as read was saved beside it as "<list>_1" (the first repair ever) or
// "<list>_2" (the latest). A stale name here makes every CD/DVD drive vanish.
#pragma once

#include <string_view>

#include "platform/Platform.h"

namespace tarvox {

class RunContext;

inline constexpr std::u16string_view kCdromClassKey =
    u"SYSTEM\\CurrentControlSet\\Control\\Class\\"
    u"{4D36E965-E325-11CE-BFC1-08002BE10318}";
inline constexpr std::u16string_view kCdromCriticalDeviceKey =
    u"SYSTEM\\CurrentControlSet\\Control\\CriticalDeviceDatabase\\gencdrom";

// Where a list lives, and the two ways the keys differ.
struct FilterListKey {
  std::u16string_view path;
  // Access denied on the key means the run has no administrator rights:
  // logged, and the run ends with -1 at once (RunContext::End).
  bool ends_run_when_denied;
  // A pruned list that could not be written gives the result 0.
  bool fails_when_list_not_written;
  // Windows 8 (6.2) and later have no such key: "not found" there means no
  // list, and is not logged.
  bool none_since_windows_8;
};

inline constexpr FilterListKey kClassFilterLists{kCdromClassKey, true, true, false};
inline constexpr FilterListKey kCriticalDeviceFilterLists{
    kCdromCriticalDeviceKey, false, false, true};

// Repairs the list `valueName` ("LowerFilters" or "UpperFilters") of one key.
// 1 when the repair ran to its end (nothing to do included), 0 when it
// stopped early: the key or the value could not be read, a single string
// could not be rewritten as a list, the backup could not be written (the
// list is then left as read, for its content would be kept nowhere), the
// list kept changing while it was judged, or, for the class key, the pruned
// list could not be written. The backup is written
// before any change that loses stored data: a pruned list, and a single
// string or an empty list that held more than NULs besides its names.
int RepairFilterListInKey(Platform& os, RunContext& run, const FilterListKey& where,
                          std::u16string_view valueName);

int RepairClassFilterList(Platform& os, RunContext& run, std::u16string_view valueName);
int RepairCriticalDeviceFilterList(Platform& os, RunContext& run, std::u16string_view valueName);

}  // namespace tarvox
