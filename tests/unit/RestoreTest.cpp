// TarvoxRestore's work on the in-memory machine: a filter a repair removed
// put back where it stood, on the right device after the devices changed,
// and the refusals and exit codes support staff rely on.
#include "check/CheckRun.h"
#include "restore/RestoreRun.h"
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

constexpr std::u16string_view kDevice = u"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000";
constexpr std::u16string_view kLog = u"C:\\windows\\TarvoxRestore.log";

// The backups a repair wrote, and the devices named beside them.
std::vector<MemoryPlatform::ValueAt> Backups(const MemoryPlatform& machine) {
  std::vector<MemoryPlatform::ValueAt> backups;
  for (auto& at : machine.AllValues()) {
    if (at.name.ends_with(u"_1") || at.name.ends_with(u"_2") || at.name.starts_with(u"DeviceOf.")) {
      backups.push_back(std::move(at));
    }
  }
  return backups;
}

restore::Outcome Restore(MemoryPlatform& machine, std::vector<std::u16string> words) {
  ResetRunState();
  const restore::Outcome outcome =
      restore::RunRestore(machine, restore::ParseArguments(words), "1.0.0.0");
  machine.ProcessExited();
  return outcome;
}

// A machine a repair has taken a disabled "off" from: the class key's lower
// list and a device's, each saved with its backup (the device's naming it).
void SeedRepairedMachine(MemoryPlatform& machine) {
  SeedFilterServices(machine);
  machine.PutKey(u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers");
  machine.PutKey(kCdromCriticalDeviceKey);
  machine.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"good", u"off", u"good2"});
  machine.AddCdromDevice(u"ROOT\\CDROM\\0000");
  machine.PutMultiSz(kDevice, u"UpperFilters", {u"off", u"good"});
  RunAsProcess(machine, u"Tarvox.exe -silent");
}

TEST(Restore, PutsTheFilterBackWhereItStoodOnTheRightDevice) {
  // In a user's session, and in session 0 as a management agent runs it.
  for (const std::uint32_t session : {1u, 0u}) {
  SCOPED_TRACE(session);
  MemoryPlatform machine;
  machine.SetSession(session);
  SeedRepairedMachine(machine);
  ASSERT_EQ(machine.GetValue(kCdromClassKey, u"LowerFilters")->bytes, ListBytes({u"good", u"good2"}));
  // The service is enabled again, and another drive now comes first.
  machine.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\off", u"Start", 3);
  machine.AddCdromDevice(u"IDE\\CdRom\\0");
  machine.PutMultiSz(u"SYSTEM\\CurrentControlSet\\Enum\\IDE\\CdRom\\0", u"UpperFilters", {u"good"});
  const auto backups = Backups(machine);
  const auto before = machine.AllValues().size();

  const restore::Outcome look = Restore(machine, {u"--name", u"off"});
  EXPECT_EQ(look.exit_code, restore::kWouldChange) << look.err;
  EXPECT_EQ(machine.GetValue(kCdromClassKey, u"LowerFilters")->bytes, ListBytes({u"good", u"good2"}));

  const restore::Outcome made = Restore(machine, {u"--NAME", u"off", u"--Apply"});
  EXPECT_EQ(made.exit_code, restore::kDone) << made.err << made.out;
  EXPECT_EQ(machine.GetValue(kCdromClassKey, u"LowerFilters")->bytes,
            ListBytes({u"good", u"off", u"good2"}));
  EXPECT_EQ(machine.GetValue(kDevice, u"UpperFilters")->bytes, ListBytes({u"off", u"good"}));
  EXPECT_EQ(machine.GetValue(u"SYSTEM\\CurrentControlSet\\Enum\\IDE\\CdRom\\0", u"UpperFilters")->bytes,
            ListBytes({u"good"}));
  // Nothing else was written: the backups stay as they were; one log line
  // for each list.
  EXPECT_EQ(machine.AllValues().size(), before);
  const auto kept = Backups(machine);
  ASSERT_EQ(kept.size(), backups.size());
  for (std::size_t at = 0; at < kept.size(); ++at) {
    EXPECT_EQ(kept[at].value.bytes, backups[at].value.bytes);
  }
  const std::string log = machine.FileBytes(kLog).value_or("");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  EXPECT_NE(log.find("off put back into device ROOT\\CDROM\\0000 UpperFilters, as in its backup "
                     "HKLM\\SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0\\UpperFilters_1: off, good"),
            std::string::npos)
      << log;
  // A repair now has nothing to do, and a second restore nothing to put back.
  ResetRunState();
  EXPECT_EQ(check::RunCheck(machine).exit_code, check::kNothingToRepair);
  EXPECT_EQ(Restore(machine, {u"--name", u"off", u"--apply"}).exit_code, restore::kDone);
  EXPECT_EQ(machine.FileBytes(kLog), log);
  }
}

TEST(Restore, RefusesWhatARepairWouldUndoOrCannotBeToldApart) {
  struct Case {
    const char* what;
    void (*arrange)(MemoryPlatform&);
    std::vector<std::u16string> words;
    int exit_code;
    const char* says;  // on standard error, or standard output for exit 0
  };
  const Case cases[] = {
      {"a listing changes nothing", [](MemoryPlatform&) {}, {}, restore::kDone,
       "UpperFilters_1 (first repair): off, good; not in the list now: off"},
      {"a service still disabled", [](MemoryPlatform&) {}, {u"--name", u"off"}, restore::kRefused,
       "a repair would remove it again: its start type"},
      {"a driver file missing",
       [](MemoryPlatform& m) { m.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\nodriver", u"Start", 3); },
       {u"--name", u"nodriver"}, restore::kRefused, "driver file C:\\windows\\system32\\drivers\\nodriver.sys is missing"},
      {"a service whose key cannot be read", [](MemoryPlatform&) {}, {u"--name", u"guarded"},
       restore::kRefused, "cannot be looked at"},
      {"no administrator rights",
       [](MemoryPlatform& m) {
         m.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\off", u"Start", 3);
         m.SetAdministrator(false);
       },
       {u"--name", u"off"}, restore::kRefused, "administrator rights are needed"},
      {"a repair running in another session",
       [](MemoryPlatform& m) {
         m.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\off", u"Start", 3);
         m.HoldMutex(u"Global\\TarvoxAppSingleIstanceMutex");
       },
       {u"--name", u"off", u"--apply"}, restore::kRefused, "a repair is running"},
      {"a repair running in session 0",
       [](MemoryPlatform& m) {
         m.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\off", u"Start", 3);
         m.SetSession(0);
         m.HoldMutex(u"TarvoxAppSingleIstanceMutex");
       },
       {u"--name", u"off", u"--apply"}, restore::kRefused, "a repair is running"},
      {"a device backup naming no device, as older versions wrote them, with two devices",
       [](MemoryPlatform& m) {
         m.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\off", u"Start", 3);
         m.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"good", u"off", u"good2"});
         // A name that is no text names no device.
         m.PutValue(u"SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0", u"DeviceOf.UpperFilters.1",
                    win::kRegBinary, "");
         m.AddCdromDevice(u"ROOT\\CDROM\\0001");
       },
       {u"--name", u"off"}, restore::kRefused, "no backup that holds it can be used"},
      {"a name no backup holds", [](MemoryPlatform&) {}, {u"--name", u"good"}, restore::kDone,
       "Result: nothing to put back"},
      {"--apply alone", [](MemoryPlatform&) {}, {u"--apply"}, restore::kRefused,
       "--apply goes with --name NAME"},
      {"an unknown argument", [](MemoryPlatform&) {}, {u"/name", u"off"}, restore::kRefused,
       "unknown argument: /name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryPlatform machine;
    SeedRepairedMachine(machine);
    c.arrange(machine);
    const auto values = machine.AllValues().size();
    const restore::Outcome outcome = Restore(machine, c.words);
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    const std::string& said = c.exit_code == restore::kRefused ? outcome.err : outcome.out;
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
    EXPECT_EQ(machine.AllValues().size(), values);
    EXPECT_FALSE(machine.FileExists(kLog));
  }
}

}  // namespace
}  // namespace tarvox::testing
