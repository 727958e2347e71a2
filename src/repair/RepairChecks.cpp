#include "repair/RepairChecks.h"

#include <optional>

#include "log/RunLog.h"
#include "platform/RunState.h"
#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
#include "repair/KeyFilterList.h"
#include "repair/Places.h"
#include "repair/RunContext.h"

namespace tarvox {

int TakeSingleInstanceGuard(Platform& os) {
  for (const auto name : {kGlobalSingleInstanceMutexName, kSingleInstanceMutexName}) {
    bool held_here = false;
    const Status created = os.CreateNamedMutex(name, &held_here);
    // Made now; or the very mutex this run made under the global name, which
    // is what the plain name reaches in session 0 (services, SYSTEM agents,
    // scheduled tasks): no second instance.
    if (created == win::kSuccess || (created == win::kAlreadyExists && held_here)) continue;
    if (created == win::kAlreadyExists) return 0;
    // Not made, for a reason of its own: only a guard that exists (one of
    // another user, refused to this process) keeps the run out.
    if (os.FindNamedMutex(name) != win::kFileNotFound) return 0;
  }
  return 1;
}

bool RepairIsRunning(Platform& os) {
  return os.FindNamedMutex(kGlobalSingleInstanceMutexName) == win::kSuccess ||
         os.FindNamedMutex(kSingleInstanceMutexName) == win::kSuccess;
}

int StartRun(Platform& os, RunContext& run) {
  ReadSystemRoot(os);
  const int log_open = OpenRunLog(os);
  if (os.OsVersion().major < kOldestMajorVersion) {
    RunLog << Message::kNotSupportedPlatform << kEndLine;
    run.End(-1);
  }
  return log_open;
}

void RunRepairChecks(Platform& os, RunContext& run) {
  // One device set for both device passes, obtained when the first begins:
  // obtaining and releasing a set of many devices costs more than all else
  // a pass does.
  std::optional<CdromDeviceSet> devices;
  for (const RepairPlace& place : kRepairPlaces) {
    switch (place.kind) {
      case PlaceKind::kKeyList:
        place.repair_key_list(os, run, place.list);
        break;
      case PlaceKind::kCoInstaller:
        CheckCoInstaller(os, run);
        break;
      case PlaceKind::kDeviceList:
        if (!devices) devices.emplace(os);
        RepairDeviceFilters(os, run, place.property, devices->get());
        break;
    }
    // Only the class key's checks can end the run (no rights).
    if (run.ended()) return;
  }
}

}  // namespace tarvox
