#include "app/RepairApp.h"

#include "app/CommandLine.h"
#include "log/RunLog.h"
#include "platform/RunState.h"
#include "repair/RepairChecks.h"
#include "repair/RunContext.h"
#include "resources/Catalogue.h"

namespace tarvox {

int RepairApp::InitInstance() {
  if (TakeSingleInstanceGuard(os_) == 0) return 0;
  const bool silent = IsSilentCommandLine(os_.CommandLine());
  RunContext run(observer_, passed_);
  const int log_open = StartRun(os_, run);
  if (!run.ended()) RunRepairChecks(os_, run);
  // Ended early: the lines so far stay in the temporary log, which is not
  // finished, and no notice is shown.
  if ((ended_ = run.ended())) return 1;

  // A notice where nobody can see it (a service, a scheduled task, a
  // deployment agent in session 0) would wait for ever, holding the guard
  // and leaving the log unfinished: such a run ends as a silent one does.
  if (g_changesMade != 0 && !silent && os_.NoticeCanBeSeen()) {
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
  return ended_.value_or(0);
}

}  // namespace tarvox
