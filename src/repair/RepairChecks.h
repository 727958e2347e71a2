// The seven repair checks of a run, each once, in their fixed order: the
// CD-ROM class key's LowerFilters and UpperFilters, the product's
// co-installer entry, the critical-device entry's two lists, and the two
// filter properties of every CD-ROM device. Each logs its own problems;
// none stops the next, except missing rights on the class key.
#pragma once

#include "platform/Platform.h"

namespace tarvox {

class RunContext;

// The mutex a repair holds while it runs, so that no second one starts.
// A plain name lives in the namespace of the session that made it: an
// engineer's run in session 1 and a deployment agent's in session 0 would
// each find theirs free and change the same lists at once. So a repair holds
// it in the global namespace too; the plain name stays for whatever looks
// for it. (Session 0 has no namespace of its own: there the plain name is
// the global one.)
inline constexpr std::u16string_view kSingleInstanceMutexName =
    u"TarvoxAppSingleIstanceMutex";
inline constexpr std::u16string_view kGlobalSingleInstanceMutexName =
    u"Global\\TarvoxAppSingleIstanceMutex";

// Takes the guard under both names, the global one first: 1 when this run
// now holds it, 0 when another run does (either name exists as another
// process's mutex, or exists and is refused to this process). Whether a
// mutex found under the plain name is this run's own is told by the object,
// not the name: in session 0 both names are one mutex. A global name
// refused although none exists (a restricted token) keeps nobody out: the
// plain name still does in this session.
int TakeSingleInstanceGuard(Platform& os);

// Whether a repair holds the guard under either name, looked for without
// making it, so that looking never keeps a repair from starting.
bool RepairIsRunning(Platform& os);

// The oldest Windows a repair runs on: major version 5.
inline constexpr std::uint32_t kOldestMajorVersion = 5;

// The start of a run, after its guard and command line: the Windows folder,
// then the run log (the Windows folder is its fallback folder), then the
// platform check, which logs "Not supported platform" and ends the run with
// -1 on Windows older than version 5. 1 when the log is open.
int StartRun(Platform& os, RunContext& run);

// The seven checks in their order; none after one that ended the run.
void RunRepairChecks(Platform& os, RunContext& run);

}  // namespace tarvox
