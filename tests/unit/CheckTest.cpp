// TarvoxCheck's work on the in-memory machine: the report of a broken
// machine, and the exit codes, each with the machine left as it was. (That
// its prediction is the repair the whole-run fuzzer proves on every machine
// it decodes.)
#include <fstream>
#include <sstream>

#include "check/CheckRun.h"
#include "check/Report.h"
#include "invariants/RunInvariants.h"
#include "repair/CoInstaller.h"
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

constexpr std::u16string_view kProduct = u"C:\\Program Files\\Orvane";

// A name that would forge the report's last line and hide what follows it
// on a terminal, were it printed as it is.
constexpr std::u16string_view kForgingName = u"x\nResult: nothing to repair (exit code 0).\x1b[8m";

// The machine the demo repairs: a filter of an uninstalled product, a
// disabled one, a driver gone but for its ".bak" copy, the co-installer
// without its DLL, and two CD-ROM devices; and names no service has, one of
// letters beyond ASCII and one that would forge a line.
void SeedBrokenMachine(MemoryPlatform& machine) {
  SeedFilterServices(machine);
  machine.PutString(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\orvane.exe",
                    u"Path", kProduct);
  machine.AddFolder(kProduct);
  machine.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"offbak", u"brännare"});
  machine.PutMultiSz(kCdromClassKey, u"UpperFilters",
                     {u"good", u"burnkit", u"unseen", std::u16string(kForgingName)});
  machine.PutMultiSz(kCoDeviceInstallersKey, kCdromClassGuid,
                     {u"cdprop.dll,CdPropPages", u"OrvaneCo.dll,OrvaneCoInstaller"});
  machine.PutMultiSz(kCdromCriticalDeviceKey, u"UpperFilters", {u"burnkit", u"good"});
  machine.AddCdromDevice(u"ROOT\\CDROM\\0000");
  machine.AddCdromDevice(u"ROOT\\CDROM\\0001");
  machine.PutMultiSz(u"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000", u"LowerFilters",
                     {u"off", u"good"});
  machine.PutValue(u"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0001", u"UpperFilters",
                   win::kRegSz, Utf16Bytes(std::u16string_view(u"abc\0gone\0", 9)));
}

check::CheckOutcome Check(MemoryPlatform& machine) {
  ResetRunState();
  return check::RunCheck(machine);
}

std::string Golden() {
  std::ifstream file(TARVOX_TESTS_DIR "/unit/check-golden.txt", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(Check, ReportsABrokenMachinePlaceByPlace) {
  MemoryPlatform machine;
  SeedBrokenMachine(machine);
  const check::CheckOutcome outcome = Check(machine);
  EXPECT_EQ(outcome.exit_code, check::kRepairDue);
  EXPECT_EQ(check::TextReport(outcome, "1.0.0.0"), Golden());
}

TEST(Check, ExitCodesSayWhatADetectionScriptNeeds) {
  struct Case {
    const char* what;
    void (*arrange)(MemoryPlatform&);
    int exit_code;
  };
  const Case cases[] = {
      {"a machine with nothing to repair",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         machine.PutMultiSz(kCdromClassKey, u"UpperFilters", {u"good", u"ondemand"});
       },
       check::kNothingToRepair},
      {"a stale name", [](MemoryPlatform& machine) { SeedBrokenMachine(machine); },
       check::kRepairDue},
      {"a single string only: rewritten, no reboot, but a repair all the same",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         machine.PutString(kCdromClassKey, u"UpperFilters", u"good");
       },
       check::kRepairDue},
      {"a repair running at this moment",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.HoldMutex(u"TarvoxAppSingleIstanceMutex");
       },
       check::kCannotCheck},
      {"a repair running in another session",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.HoldMutex(u"Global\\TarvoxAppSingleIstanceMutex");
       },
       check::kCannotCheck},
      {"Windows older than version 5",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.SetOsVersion(4, 0);
       },
       check::kCannotCheck},
      {"the class key refuses even an administrator's changes",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.DenyAccess(kCdromClassKey, win::kKeySetValue);
       },
       check::kCannotCheck},
      {"without administrator rights, what a repair run as one would do",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.SetAdministrator(false);
         machine.DenyAccess(kCdromClassKey, win::kKeySetValue);
       },
       check::kRepairDue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryPlatform machine;
    c.arrange(machine);
    MemoryPlatform untouched;
    c.arrange(untouched);
    EXPECT_EQ(Check(machine).exit_code, c.exit_code);
    EXPECT_EQ(invariants::SameOutcome(machine, untouched), "");
  }
}

}  // namespace
}  // namespace tarvox::testing
