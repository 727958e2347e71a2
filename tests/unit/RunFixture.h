// A whole run of the tool against an in-memory machine.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/RepairApp.h"
#include "log/RunLog.h"
#include "platform/MemoryPlatform.h"
#include "platform/RunState.h"
#include "repair/KeyFilterList.h"

namespace tarvox::testing {

class RunTest : public ::testing::Test {
 protected:
  RunTest() { ResetRunState(); }
  ~RunTest() override { ResetRunState(); }

  // Runs the tool as a process would, and gives its exit code.
  int RunTarvox(std::u16string command_line = u"Tarvox.exe -silent") {
    machine_.SetCommandLine(std::move(command_line));
    try {
      return RepairApp(machine_).Run();
    } catch (const MemoryPlatform::ProcessEnded& end) {
      return end.code;
    }
  }

  // Every key the checks read exists and holds nothing to repair, so a run
  // changes nothing and logs nothing.
  void SeedQuietMachine() {
    machine_.PutKey(u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers");
    machine_.PutKey(kCdromClassKey);
    machine_.PutKey(kCdromCriticalDeviceKey);
  }

  // The process-wide state starts anew for every run, as in a new process.
  static void ResetRunState() {
    RunLog.Close();
    g_changesMade = 0;
    g_systemRoot.clear();
    g_logDirectory.clear();
  }

  MemoryPlatform machine_;
};

}  // namespace tarvox::testing
