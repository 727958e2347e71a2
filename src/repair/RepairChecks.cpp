#include "repair/RepairChecks.h"

#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
#include "repair/KeyFilterList.h"
#include "services/PassedNames.h"

namespace tarvox {

void RunRepairChecks(Platform& os) {
  g_passedNames.Forget();
  RepairClassFilterList(os, u"LowerFilters");
  RepairClassFilterList(os, u"UpperFilters");
  CheckCoInstaller(os);
  RepairCriticalDeviceFilterList(os, u"LowerFilters");
  RepairCriticalDeviceFilterList(os, u"UpperFilters");
  // One device set for both passes: obtaining and releasing a set of many
  // devices costs more than all else a pass does.
  const CdromDeviceSet devices(os);
  RepairDeviceFilters(os, win::kSpdrpLowerFilters, devices.get());
  RepairDeviceFilters(os, win::kSpdrpUpperFilters, devices.get());
}

}  // namespace tarvox
