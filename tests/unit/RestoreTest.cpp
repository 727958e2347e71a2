// TarvoxRestore's work on the in-memory machine: a filter a repair removed
// put back where it stood, on the right device after the devices changed,
// and the refusals and exit codes support staff rely on.
#include <cstring>

#include "check/CheckRun.h"
#include "repair/DeviceFilters.h"
#include "restore/Backups.h"
#include "restore/RestoreRun.h"
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

using namespace std::string_view_literals;

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
       "UpperFilters_1 (first repair at position 0, written 2026-01-02T03:04:05Z): off, good; not in "
       "the list now: off"},
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

constexpr std::u16string_view kBackups0 = u"SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0";
constexpr std::u16string_view kDevice1 = u"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0001";

// A device's lower-filter backup at `number`, as a repair writes it at
// `day` of December.
void WriteDeviceBackup(MemoryPlatform& machine, const std::vector<std::u16string>& names,
                       int number, std::u16string_view id, std::uint16_t day) {
  machine.SetNow({2026, 12, day, 8, 30, 0});
  ListAsRead read;
  const std::u16string units = restore::ListUnits(names);
  std::memcpy(read.stored.data(), units.data(), units.size() * 2);
  read.type = win::kRegMultiSz;
  read.size = static_cast<std::uint32_t>(units.size() * 2);
  SingleStringToList(&read);
  ASSERT_EQ(BackupDeviceFilters(machine, win::kSpdrpLowerFilters, read, number, id), 1);
}

// Machines with a history: several repairs, devices that came and went,
// backups another writer replaced; and whether the result says all.
TEST(Restore, OnAMachineWithAHistoryTakesTheRightBackupAndSaysWhatItDid) {
  struct Case {
    const char* what;
    void (*arrange)(MemoryPlatform&);
    std::vector<std::u16string> words;
    int exit_code;
    const char* says;  // on standard output or standard error
    std::vector<std::u16string> device1_after;  // ROOT\CDROM\0001's lower list
  };
  // "off" is healthy again; ROOT\CDROM\0001 holds "good" and lost "off".
  const Case cases[] = {
      {"a backup an older version wrote over names no device any more",
       [](MemoryPlatform& m) {
         WriteDeviceBackup(m, {u"good", u"abc"}, 0, u"ROOT\\CDROM\\0001", 1);
         WriteDeviceBackup(m, {u"good", u"abc"}, 0, u"ROOT\\CDROM\\0001", 2);
         // ROOT\CDROM\0000 came, at position 0, and lost "off" to an older
         // repair, which wrote its backup and nothing beside it.
         m.AddCdromDevice(u"ROOT\\CDROM\\0000");
         m.PutMultiSz(kBackups0, u"LowerFilters_2", {u"off", u"good"});
       },
       {u"--name", u"off", u"--apply"}, restore::kRefused,
       "not the backup its device was named with (replaced since, by an older version or by "
       "hand); with more than one CD-ROM device",
       {u"good"}},
      {"a device value that is no text is no evidence, not even of the position",
       [](MemoryPlatform& m) {
         m.PutMultiSz(kBackups0, u"LowerFilters_1", {u"good", u"off"});
         m.PutValue(kBackups0, u"DeviceOf.LowerFilters.1", win::kRegExpandSz,
                    Utf16Bytes(u"ROOT\\CDROM\\0001\0"sv));
       },
       {u"--name", u"off", u"--apply"}, restore::kRefused,
       "the device named beside it is no text (type 2): which device it came from cannot be told",
       {u"good"}},
      {"a device value too long to be a device's", [](MemoryPlatform& m) {
         m.PutMultiSz(kBackups0, u"LowerFilters_1", {u"good", u"off"});
         m.PutString(kBackups0, u"DeviceOf.LowerFilters.1", std::u16string(201, u'x'));
       },
       {u"--name", u"off"}, restore::kRefused, "is no device name (too long", {u"good"}},
      {"the latest backup is the one written last, at another position",
       [](MemoryPlatform& m) {
         m.AddCdromDevice(u"IDE\\CdRom\\0");
         WriteDeviceBackup(m, {u"off", u"good"}, 1, u"ROOT\\CDROM\\0001", 9);
         WriteDeviceBackup(m, {u"good", u"off"}, 0, u"ROOT\\CDROM\\0001", 1);
       },
       {u"--name", u"off", u"--apply"}, restore::kDone, "1 of 1 list got off again",
       {u"off", u"good"}},
      {"a dated backup is later than one of an older version",
       [](MemoryPlatform& m) {
         m.AddCdromDevice(u"IDE\\CdRom\\0");
         m.PutMultiSz(kBackups0, u"LowerFilters_2", {u"good", u"off"});
         m.PutString(kBackups0, u"DeviceOf.LowerFilters.2", u"ROOT\\CDROM\\0001");
         WriteDeviceBackup(m, {u"off", u"good"}, 1, u"ROOT\\CDROM\\0001", 1);
       },
       {u"--name", u"off", u"--apply"}, restore::kDone, "placed as in HKLM\\SOFTWARE\\Kestrow\\"
       "OrvaneTarvox\\BackupDeviceNr1\\LowerFilters_1", {u"off", u"good"}},
      {"the listing shows which backup is the latest",
       [](MemoryPlatform& m) {
         m.AddCdromDevice(u"IDE\\CdRom\\0");
         WriteDeviceBackup(m, {u"off", u"good"}, 1, u"ROOT\\CDROM\\0001", 9);
         WriteDeviceBackup(m, {u"good", u"off"}, 0, u"ROOT\\CDROM\\0001", 1);
       },
       {}, restore::kDone,
       "BackupDeviceNr1\\LowerFilters_1 (first repair at position 1, written "
       "2026-12-09T08:30:00Z, the latest): off, good", {u"good"}},
      {"a list now a single string of one name is put back by hand, and said so",
       [](MemoryPlatform& m) {
         WriteDeviceBackup(m, {u"good", u"off"}, 0, u"ROOT\\CDROM\\0001", 1);
         m.PutString(kCdromClassKey, u"LowerFilters", u"good");
         m.PutMultiSz(kCdromClassKey, u"LowerFilters_1", {u"good", u"off"});
       },
       {u"--name", u"off", u"--apply"}, restore::kWouldChange,
       "CD-ROM class key, LowerFilters not changed: it is a single string (REG_SZ) holding one "
       "name, not a list: put the name back by hand",
       {u"good", u"off"}},
      {"a list with data after its end is put back by hand",
       [](MemoryPlatform& m) {
         WriteDeviceBackup(m, {u"good", u"off"}, 0, u"ROOT\\CDROM\\0001", 1);
         m.PutValue(kCdromClassKey, u"LowerFilters", win::kRegMultiSz, Utf16Bytes(u"good\0\0junk\0"sv));
         m.PutMultiSz(kCdromClassKey, u"LowerFilters_1", {u"good", u"off"});
       },
       {u"--name", u"off", u"--apply"}, restore::kWouldChange, "holds data after its end",
       {u"good", u"off"}},
      {"a look refuses a list that would grow too long, as --apply does",
       [](MemoryPlatform& m) {
         // 1,021 units of 1,024 now; "off" takes 4 more.
         m.PutMultiSz(kDevice1, u"LowerFilters", std::vector<std::u16string>(102, u"good23456"));
         WriteDeviceBackup(m, {u"off"}, 0, u"ROOT\\CDROM\\0001", 1);
       },
       {u"--name", u"off"}, restore::kRefused, "the list would be longer than a list may be",
       std::vector<std::u16string>(102, u"good23456")},
      {"a backup key that cannot be read is said, not \"no backups\"",
       [](MemoryPlatform& m) {
         WriteDeviceBackup(m, {u"good", u"off"}, 0, u"ROOT\\CDROM\\0001", 1);
         m.DenyAccess(kBackups0, win::kKeyQueryValue);
       },
       {}, restore::kDone, "BackupDeviceNr0 cannot be read (error 5): backups there are not seen",
       {u"good"}},
      {"a change made while a backup key cannot be read is not all",
       [](MemoryPlatform& m) {
         WriteDeviceBackup(m, {u"good", u"off"}, 0, u"ROOT\\CDROM\\0001", 1);
         m.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"good"});
         m.PutMultiSz(kCdromClassKey, u"LowerFilters_1", {u"good", u"off"});
         m.DenyAccess(kBackups0, win::kKeyQueryValue);
       },
       {u"--name", u"off", u"--apply"}, restore::kWouldChange,
       "BackupDeviceNr0 cannot be read (error 5): backups there that hold off are not seen",
       {u"good"}},
      {"a change its log line could not tell of",
       [](MemoryPlatform& m) {
         WriteDeviceBackup(m, {u"good", u"off"}, 0, u"ROOT\\CDROM\\0001", 1);
         m.AddFolder(kLog);
       },
       {u"--name", u"off", u"--apply"}, restore::kWouldChange, "but that is not in the log",
       {u"good", u"off"}},
      {"a driver that is a folder is never attached",
       [](MemoryPlatform& m) {
         WriteDeviceBackup(m, {u"good", u"off"}, 0, u"ROOT\\CDROM\\0001", 1);
         m.AddFolder(u"C:\\windows\\system32\\drivers\\folder.sys");
         m.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\folder", u"Start", 3);
       },
       {u"--name", u"folder", u"--apply"}, restore::kRefused,
       "folder.sys is a folder, which Windows cannot load as a driver", {u"good"}},
      {"--help beside other words is a bad argument", [](MemoryPlatform&) {},
       {u"--name", u"off", u"--help"}, restore::kRefused, "--help goes alone", {u"good"}},
      {"--help alone", [](MemoryPlatform&) {}, {u"--help"}, restore::kDone,
       "       TarvoxRestore.exe --help", {u"good"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryPlatform machine;
    SeedFilterServices(machine);
    machine.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\off", u"Start", 3);
    machine.PutKey(kCdromCriticalDeviceKey);
    machine.AddCdromDevice(u"ROOT\\CDROM\\0001");
    machine.PutMultiSz(kDevice1, u"LowerFilters", {u"good"});
    c.arrange(machine);
    const restore::Outcome outcome = Restore(machine, c.words);
    EXPECT_EQ(outcome.exit_code, c.exit_code) << outcome.out << outcome.err;
    EXPECT_NE((outcome.out + outcome.err).find(c.says), std::string::npos)
        << outcome.out << outcome.err;
    EXPECT_EQ(machine.GetValue(kDevice1, u"LowerFilters")->bytes, ListBytes(c.device1_after));
  }
}

// A name only an administrator can give a service, with a line break in
// it, is one line of the log all the same.
TEST(Restore, ItsLogLineIsOneLineWhateverTheNameHolds) {
  const std::u16string name = u"off\nforged line";
  MemoryPlatform machine;
  SeedFilterServices(machine);
  const std::u16string service = u"SYSTEM\\CurrentControlSet\\Services\\" + name;
  machine.PutDword(service, u"Start", 3);
  machine.PutString(service, u"ImagePath", u"\\??\\C:\\tools\\forged.sys");
  machine.AddFile(u"C:\\tools\\forged.sys", "MZ");
  machine.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"good"});
  machine.PutMultiSz(kCdromClassKey, u"LowerFilters_1", {u"good", name, u"\u00e9t\u00e9"});
  const restore::Outcome outcome = Restore(machine, {u"--name", name, u"--apply"});
  EXPECT_EQ(outcome.exit_code, restore::kDone) << outcome.err;
  const std::string log = machine.FileBytes(kLog).value_or("");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_NE(log.find("  off<U+000A>forged line put back into"), std::string::npos) << log;
}

}  // namespace
}  // namespace tarvox::testing
