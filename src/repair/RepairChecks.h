// The seven repair checks of a run, each once, in their fixed order: the
// CD-ROM class key's LowerFilters and UpperFilters, the product's
// co-installer entry, the critical-device entry's two lists, and the two
// filter properties of every CD-ROM device. Each logs its own problems;
// none stops the next, except missing rights on the class key.
#pragma once

#include "platform/Platform.h"

namespace tarvox {

// The mutex a repair holds while it runs, so that no second one starts.
inline constexpr std::u16string_view kSingleInstanceMutexName =
    u"TarvoxAppSingleIstanceMutex";

// The oldest Windows a repair runs on: major version 5.
inline constexpr std::uint32_t kOldestMajorVersion = 5;

void RunRepairChecks(Platform& os);

}  // namespace tarvox
