// A whole run of the tool against an in-memory machine.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/RepairApp.h"
#include "log/RunLog.h"
#include "support/memory/MemoryPlatform.h"
#include "platform/RunState.h"
#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
#include "repair/KeyFilterList.h"
#include "repair/RunContext.h"
#include "services/PassedNames.h"
#include "support/NoPassedNames.h"
#include "support/RecordedRun.h"

namespace tarvox::testing {

using Entries = std::vector<std::u16string>;

inline std::string Utf16Bytes(std::u16string_view units) {
  return std::string(reinterpret_cast<const char*>(units.data()),
                     units.size() * 2);
}

// REG_MULTI_SZ bytes of a list: each entry and its NUL, then the closing NUL.
inline std::string ListBytes(const Entries& entries) {
  std::u16string units;
  for (const auto& entry : entries) units += entry + u'\0';
  return Utf16Bytes(units + u'\0');
}

// The machine every case starts from:
//   good, abc, good2  start with the system, driver present
//   ondemand       started on demand by Plug and Play, driver present
//   off            disabled, driver present
//   offbak         disabled, driver missing with a ".bak" copy beside it
//   nodriver       starts with the system, no driver and no copy
//   guarded        disabled, but its key refuses reading: cannot tell
//   unseen         starts with the system, its driver on a network drive
//                  that does not answer: cannot tell
//   (gone)         no service at all
inline void SeedFilterServices(MemoryPlatform& machine) {
  constexpr std::u16string_view kServices =
      u"SYSTEM\\CurrentControlSet\\Services\\";
  constexpr std::u16string_view kDrivers = u"C:\\windows\\system32\\drivers\\";
  const std::pair<std::u16string_view, std::uint32_t> services[] = {
      {u"good", 1}, {u"abc", 1}, {u"good2", 0}, {u"ondemand", 3}, {u"off", 4},
      {u"offbak", 4}, {u"nodriver", 2}};
  for (const auto& [name, start] : services) {
    machine.PutDword(std::u16string(kServices) + std::u16string(name), u"Start",
                     start);
  }
  for (const auto name : {u"good", u"abc", u"good2", u"ondemand", u"off"}) {
    machine.AddFile(std::u16string(kDrivers) + name + u".sys", "MZ");
  }
  machine.AddFile(std::u16string(kDrivers) + u"offbak.bak", "MZ");
  const std::u16string guarded = std::u16string(kServices) + u"guarded";
  machine.PutDword(guarded, u"Start", 4);
  machine.DenyAccess(guarded, win::kKeyQueryValue);
  const std::u16string unseen = std::u16string(kServices) + u"unseen";
  machine.PutDword(unseen, u"Start", 1);
  machine.PutString(unseen, u"ImagePath", u"\\??\\N:\\drivers\\unseen.sys");
  machine.MakeUnreachable(u"N:\\", win::kBadNetPath);
}


// The process-wide state starts anew for every run, as in a new process.
inline void ResetRunState() {
  RunLog.Close();
  g_changesMade = 0;
  g_systemRoot.clear();
  g_logDirectory.clear();
}

// One check on its own, as a run of its own.
inline int CheckCoInstallerAlone(Platform& os) {
  RunContext run;
  return CheckCoInstaller(os, run);
}
inline int RepairClassFilterListAlone(Platform& os, std::u16string_view value) {
  RunContext run;
  return RepairClassFilterList(os, run, value);
}
inline void RepairDeviceFiltersAlone(Platform& os, std::uint32_t property) {
  const CdromDeviceSet devices(os);
  RunContext run;
  RepairDeviceFilters(os, run, property, devices.get());
}

// Runs the tool on `machine` as a new process would, and gives its exit
// code; the process's mutex goes with it.
// `passed`: where the run keeps its passes (none: a set of its own).
// `observer`: told what the run finds and does.
inline int RunAsProcess(MemoryPlatform& machine, std::u16string command_line,
                        PassedNames* passed = nullptr, RunObserver* observer = nullptr) {
  ResetRunState();
  machine.SetCommandLine(std::move(command_line));
  const int exit_code = RepairApp(machine, passed, observer).Run();
  machine.ProcessExited();
  RunLog.Close();
  return exit_code;
}

class RunTest : public ::testing::Test {
 protected:
  RunTest() { ResetRunState(); }
  ~RunTest() override { ResetRunState(); }

  int RunTarvox(std::u16string command_line = u"Tarvox.exe -silent") {
    return RunAsProcess(machine_, std::move(command_line));
  }

  // Every key the checks read exists and holds nothing to repair, so a run
  // changes nothing and logs nothing.
  void SeedQuietMachine() {
    machine_.PutKey(u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers");
    machine_.PutKey(kCdromClassKey);
    machine_.PutKey(kCdromCriticalDeviceKey);
  }

  MemoryPlatform machine_;
};

}  // namespace tarvox::testing
