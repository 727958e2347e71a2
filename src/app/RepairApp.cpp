#include "app/RepairApp.h"

#include "app/CommandLine.h"
#include "log/RunLog.h"
#include "platform/RunState.h"
#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
#include "repair/KeyFilterList.h"
#include "resources/Catalogue.h"
#include "services/PassedNames.h"

namespace tarvox {
namespace {

// The oldest Windows the tool runs on: major version 5.
constexpr std::uint32_t kOldestMajorVersion = 5;

// Values of 260 units or more do not fit the 260-unit buffer the Windows
// folder is read into; such a value is taken as no value at all.
constexpr std::size_t kSystemRootUnits = 260;

void ReadSystemRoot(Platform& os) {
  const auto value = os.ReadEnvironment(u"SystemRoot");
  g_systemRoot =
      (value && value->size() < kSystemRootUnits) ? *value : std::u16string();
}

// The repair checks, each once, in this fixed order. Each logs its own
// problems; none stops the next, except missing rights on the class key.
// Their results are not needed.
void RunRepairChecks(Platform& os) {
  g_passedNames.Forget();
  RepairClassFilterList(os, u"LowerFilters");
  RepairClassFilterList(os, u"UpperFilters");
  CheckCoInstaller(os);
  RepairCriticalDeviceFilterList(os, u"LowerFilters");
  RepairCriticalDeviceFilterList(os, u"UpperFilters");
  const CdromDeviceSet devices(os);
  RepairDeviceFilters(os, win::kSpdrpLowerFilters, devices.get());
  RepairDeviceFilters(os, win::kSpdrpUpperFilters, devices.get());
}

}  // namespace

int RepairApp::InitInstance() {
  if (os_.CreateNamedMutex(kSingleInstanceMutexName) == win::kAlreadyExists) {
    return 0;
  }
  const bool silent = IsSilentCommandLine(os_.CommandLine());
  // The Windows folder is read before the log opens: it is the log's
  // fallback folder.
  ReadSystemRoot(os_);
  const int log_open = OpenRunLog(os_);

  if (os_.OsMajorVersion() < kOldestMajorVersion) {
    RunLog << Message::kNotSupportedPlatform << kEndLine;
    os_.EndProcess(-1);
  }

  RunRepairChecks(os_);

  if (g_changesMade != 0 && !silent) {
    // The caption is the executable's name, as the window framework gives an
    // application without a title of its own.
    os_.ShowNotice(os_.LoadMessage(IDS_REBOOT_NOTICE), os_.ProgramBaseName(),
                   win::kMbOk | win::kMbIconInformation);
  }
  if (log_open != 0) FinishRunLog(os_);
  return 1;
}

int RepairApp::Run() {
  InitInstance();
  return 0;
}

}  // namespace tarvox
