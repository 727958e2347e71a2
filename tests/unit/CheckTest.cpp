// TarvoxCheck's work on the in-memory machine: the report of a broken
// machine, and the exit codes, each with the machine left as it was. (That
// its prediction is the repair the whole-run fuzzer proves on every machine
// it decodes.)
#include <fstream>
#include <sstream>

#include "check/CheckRun.h"
#include "check/Report.h"
#include "invariants/ReportModel.h"
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
                     {u"good", u"burnkit", u"unseen", u"guarded", std::u16string(kForgingName)});
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

std::u16string Ascii(const std::string& text) { return {text.begin(), text.end()}; }

// 64 devices and every list full of names no service has: the largest
// report a machine gives.
void SeedFullMachine(MemoryPlatform& machine) {
  SeedFilterServices(machine);
  std::vector<std::u16string> names;
  for (int n = 0; n < 68; ++n) names.push_back(u"stalefilter" + Ascii(std::to_string(100 + n)));
  machine.PutMultiSz(kCdromClassKey, u"LowerFilters", names);
  machine.PutMultiSz(kCdromClassKey, u"UpperFilters", names);
  for (int device = 0; device < 64; ++device) {
    const std::u16string id = u"ROOT\\CDROM\\" + Ascii(std::to_string(1000 + device));
    machine.AddCdromDevice(id);
    for (const auto list : {u"LowerFilters", u"UpperFilters"}) {
      machine.PutMultiSz(u"SYSTEM\\CurrentControlSet\\Enum\\" + id, list, names);
    }
  }
}

// What a repair run on the machine appended to its logs.
std::string RepairLog(MemoryPlatform& machine) {
  RunAsProcess(machine, u"Tarvox.exe -silent");
  std::string logged;
  for (const auto& path : machine.AllFiles()) {
    if (path.ends_with(u"Tarvox.log") || path.ends_with(u"TarvoxTmp.log")) {
      logged += machine.FileBytes(path).value_or("");
    }
  }
  return logged;
}

// The summary of a JSON report: null, or an object of numbers and truths.
std::string SummaryField(const std::string& json) {
  const std::size_t at = json.find("\"summary\": ");
  if (at == std::string::npos) return "no summary";
  const std::size_t value = at + 11;
  return json.substr(at, json[value] == '{' ? json.find('}', value) + 1 - at : 15);
}

std::string LastLine(const std::string& text) {
  const std::size_t start = text.rfind('\n', text.size() - 2);
  return text.substr(start == std::string::npos ? 0 : start + 1);
}

TEST(Check, ExitCodesSayWhatADetectionScriptNeeds) {
  struct Case {
    const char* what;
    void (*arrange)(MemoryPlatform&);
    int exit_code;
    // What the JSON report holds: what was looked at, and null for what was
    // not.
    std::vector<std::string> json;
    // A write no read can foresee fails in the repair: its log says more.
    bool attempted_write_fails = false;
  };
  const Case cases[] = {
      {"a machine with nothing to repair",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         machine.PutMultiSz(kCdromClassKey, u"UpperFilters", {u"good", u"ondemand"});
       },
       check::kNothingToRepair,
       {"\"reason\": null", "\"summary\": {\"placesChanging\": 0, \"namesLeaving\": 0, "
        "\"namesNotJudged\": 0, \"placesNotRead\": 0, \"restores\": 0, "
        "\"coInstallerEntryRemoved\": false, \"reboot\": false}",
        "names not judged: 0; places not read: 0;"}},
      // Nothing to repair, and the line says what was not looked at.
      {"a list over 2048 bytes: nothing to repair, one place not read",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         std::vector<std::u16string> names(80, u"goodfilter01");
         machine.PutMultiSz(kCdromClassKey, u"UpperFilters", names);
       },
       check::kNothingToRepair,
       {"\"namesNotJudged\": 0, \"placesNotRead\": 1,", "places not read: 1;",
        "\"notRead\": \"over 2048 bytes: left alone\""}},
      {"a key that refuses changes: nothing to repair, one place not read",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         machine.PutMultiSz(kCdromCriticalDeviceKey, u"UpperFilters", {u"burnkit"});
         machine.DenyAccess(kCdromCriticalDeviceKey, win::kKeySetValue);
       },
       check::kNothingToRepair, {"\"placesNotRead\": 2,", "places not read: 2;"}},
      {"a list absent, a key absent: no place unread",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         machine.PutString(kCdromClassKey, u"Class", u"CDROM");
       },
       check::kNothingToRepair, {"\"placesNotRead\": 0,"}},
      {"a stale name", [](MemoryPlatform& machine) { SeedBrokenMachine(machine); },
       check::kRepairDue,
       {"\"administrator\": true", "\"computer\": \"TARVOX-TEST\"",
        "\"time\": \"2026-01-02T03:04:05Z\"",
        "\"windows\": {\"major\": 10, \"minor\": 0, \"build\": 19045}"}},
      {"a single string only: rewritten, no reboot, but a repair all the same",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         machine.PutString(kCdromClassKey, u"UpperFilters", u"good");
       },
       check::kRepairDue, {"\"placesChanging\": 1, ", "\"reboot\": false}"}},
      {"hostile names: not UTF-16 (each kept apart), quotes, backslashes, controls",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         machine.PutMultiSz(kCdromClassKey, u"UpperFilters",
                            {u"good", u"lone\xD800", u"lone\xDBFF", u"lone\xDC00",
                             u"q\"uo\\te", u"c\x01\x1ftl\x7f"});
       },
       check::kRepairDue, {"\"namesLeaving\": 5"}},
      {"a driver restored in one list, looked at again in the next: as the run sees it",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         machine.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"offbak"});
         machine.PutMultiSz(kCdromClassKey, u"UpperFilters", {u"offbak", u"good"});
       },
       check::kRepairDue, {"\"restores\": 1"}},
      {"64 devices, every list full", SeedFullMachine, check::kRepairDue,
       {"\"placesChanging\": 130, \"namesLeaving\": 8840"}},
      {"device backups whose parent refuses subkeys: foreseen, the lists stay",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.DenyAccess(u"SOFTWARE\\Kestrow", win::kKeyCreateSubKey);
       },
       check::kRepairDue,
       {"\"Could not open key :\", \"SOFTWARE\\\\Kestrow\\\\OrvaneTarvox\\\\BackupDeviceNr0\""}},
      {"device backups below a volatile key: no read tells, so they are attempted",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.MakeVolatile(u"SOFTWARE\\Kestrow");
       },
       check::kRepairDue,
       {"\"createKey\", \"key\": \"SOFTWARE\\\\Kestrow\\\\OrvaneTarvox\", \"attempted\": true}",
        "\"keyMade\": true}"},
       true},
      {"an ImagePath whose name ends in a blank: the file beside it is not the driver",
       [](MemoryPlatform& machine) {
         SeedFilterServices(machine);
         machine.PutString(u"SYSTEM\\CurrentControlSet\\Services\\good", u"ImagePath",
                           u"\\??\\C:\\windows\\system32\\drivers\\good.sys ");
         machine.PutMultiSz(kCdromClassKey, u"UpperFilters", {u"good", u"ondemand"});
       },
       check::kRepairDue,
       {"\"reason\": \"driver file missing (Windows loads it by the name as written"}},
      // Windows opens neither for writing: the repair has no log.
      {"a read-only temporary log: no lines foreseen",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.AddFile(std::u16string(kProduct) + u"\\TarvoxTmp.log", "");
         machine.SetReadOnly(std::u16string(kProduct) + u"\\TarvoxTmp.log", true);
       },
       check::kRepairDue, {"\"log\": []"}},
      {"a temporary log another program holds without sharing writes: no lines foreseen",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.AddFile(std::u16string(kProduct) + u"\\TarvoxTmp.log", "");
         machine.HoldExclusively(std::u16string(kProduct) + u"\\TarvoxTmp.log");
       },
       check::kRepairDue, {"\"log\": []"}},
      {"a repair running at this moment",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.HoldMutex(u"TarvoxAppSingleIstanceMutex");
       },
       check::kCannotCheck,
       {"\"reason\": \"a repair is running", "\"summary\": null", "\"administrator\": null",
        "\"keysReadOnly\": null", "\"places\": null", "\"coInstaller\": null",
        "\"restores\": null", "\"reboot\": null", "\"log\": null", "\"changes\": null"}},
      {"a repair running in another session",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.HoldMutex(u"Global\\TarvoxAppSingleIstanceMutex");
       },
       check::kCannotCheck, {"\"places\": null", "\"computer\": \"TARVOX-TEST\""}},
      {"a repair running in session 0, the check in a user's session",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.SetSession(0);
         machine.HoldMutex(u"TarvoxAppSingleIstanceMutex");
         machine.SetSession(1);
       },
       check::kCannotCheck, {"\"reason\": \"a repair is running"}},
      {"Windows older than version 5",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.SetOsVersion(4, 0, 1381);
       },
       check::kCannotCheck,
       {"\"windows\": {\"major\": 4, \"minor\": 0, \"build\": 1381}", "\"summary\": null",
        "\"administrator\": true", "\"places\": null", "\"coInstaller\": null",
        "\"log\": [\"Not supported platform\"]", "\"changes\": []"}},
      {"the class key refuses even an administrator's changes",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.DenyAccess(kCdromClassKey, win::kKeySetValue);
       },
       check::kCannotCheck,
       {"\"notRead\": \"the key may not be changed (access denied)\"}\n  ]",
        "\"coInstaller\": null", "\"log\": [\"Not enough rights. Must login as administrator\"]",
        "\"changes\": []", "\"summary\": null"}},
      {"without administrator rights, what a repair run as one would do",
       [](MemoryPlatform& machine) {
         SeedBrokenMachine(machine);
         machine.SetAdministrator(false);
         machine.DenyAccess(kCdromClassKey, win::kKeySetValue);
       },
       check::kRepairDue,
       {"\"administrator\": false",
        "\"keysReadOnly\": [\"SYSTEM\\\\CurrentControlSet\\\\Control\\\\Class\\\\{4D36E965"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryPlatform machine;
    c.arrange(machine);
    MemoryPlatform untouched;
    c.arrange(untouched);
    const check::CheckOutcome outcome = Check(machine);
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    EXPECT_EQ(invariants::SameOutcome(machine, untouched), "");

    const std::string json = check::JsonReport(outcome, "1.0.0.0");
    // One valid document, reading back what the report holds.
    EXPECT_EQ(invariants::CheckJsonReport(outcome, json), "");
    for (const std::string& part : c.json) EXPECT_NE(json.find(part), std::string::npos) << part;
    // The text tells of the co-installer entry only where it was looked at.
    const std::string text = check::TextReport(outcome, "1.0.0.0");
    EXPECT_EQ(text.find("Co-installer entry") != std::string::npos,
              json.find("\"coInstaller\": null") == std::string::npos);
    // A tool that keeps only the last line has the verdict and the counts,
    // whatever the machine holds; the one-line forms are that line.
    const std::string last = LastLine(text);
    EXPECT_TRUE(last.starts_with("Result: ")) << last;
    EXPECT_LE(last.size(), 2048u);
    EXPECT_EQ(check::Render(outcome, false, true, "1.0.0.0"), last);
    const std::string line = check::Render(outcome, true, true, "1.0.0.0");
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_LE(line.size(), 2048u);
    EXPECT_EQ(SummaryField(line), SummaryField(json));
    // The lines it foresees are the ones a repair run as administrator logs.
    MemoryPlatform repaired;
    c.arrange(repaired);
    if (repaired.IsAdministrator() && !c.attempted_write_fails) {
      EXPECT_EQ(RepairLog(repaired), outcome.report.log_bytes);
    }
  }
}

}  // namespace
}  // namespace tarvox::testing
