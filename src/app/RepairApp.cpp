#include "app/RepairApp.h"

#include "app/CommandLine.h"
#include "log/RunLog.h"
#include "platform/RunState.h"
#include "repair/RepairChecks.h"
#include "resources/Catalogue.h"

namespace tarvox {

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
