// The filter properties of every CD-ROM device: counted, judged, backed up
// per device position, and written pruned or cleared.
#include <map>

#include "invariants/RunInvariants.h"
#include "repair/DeviceFilters.h"
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

using Value = std::optional<MemoryPlatform::StoredValue>;

std::u16string Device(int n) {
  return u"SYSTEM\\CurrentControlSet\\Enum\\IDE\\CdRom\\" +
         std::u16string(1, char16_t(u'0' + n));
}

std::u16string BackupKey(int n) {
  return std::u16string(kDeviceBackupKeyPrefix) +
         std::u16string(1, char16_t(u'0' + n));
}

std::string Show(const Value& value) {
  return value ? std::to_string(value->type) + ":" + value->bytes : "(none)";
}

MemoryPlatform::StoredValue Multi(const Entries& entries) {
  return {win::kRegMultiSz, ListBytes(entries)};
}

class DeviceFiltersTest : public RunTest {
 protected:
  DeviceFiltersTest() {
    SeedFilterServices(machine_);
    g_systemRoot = u"C:\\windows";
    OpenRunLog(machine_);
  }
  void AddDevice(int n, const Value& lower, const Value& upper = std::nullopt) {
    machine_.AddCdromDevice(u"IDE\\CdRom\\" + std::u16string(1, char16_t(u'0' + n)));
    if (lower) machine_.PutValue(Device(n), u"LowerFilters", lower->type, lower->bytes);
    if (upper) machine_.PutValue(Device(n), u"UpperFilters", upper->type, upper->bytes);
  }
  std::string Property(int n, std::u16string_view name) const {
    return Show(machine_.GetValue(Device(n), name));
  }
  std::string Backup(int n, std::u16string_view name) const {
    return Show(machine_.GetValue(BackupKey(n), name));
  }
  std::string Log() {
    RunLog.Close();
    return machine_.FileBytes(u"C:\\windows\\TarvoxTmp.log").value_or("");
  }
};

TEST_F(DeviceFiltersTest, OnlyTheThirdOfThreeDevicesIsRepairedUnderKeyTwo) {
  AddDevice(0, Multi({u"good"}));
  AddDevice(1, std::nullopt);  // no list: skipped, still counted
  AddDevice(2, Multi({u"gone", u"good2"}));
  RepairDeviceFiltersAlone(machine_, win::kSpdrpLowerFilters);
  EXPECT_EQ(Property(0, u"LowerFilters"), Show(Multi({u"good"})));
  EXPECT_EQ(Property(2, u"LowerFilters"), Show(Multi({u"good2"})));
  EXPECT_EQ(Backup(2, u"LowerFilters_1"), Show(Multi({u"gone", u"good2"})));
  EXPECT_FALSE(machine_.KeyExists(BackupKey(0)));
  EXPECT_FALSE(machine_.KeyExists(BackupKey(1)));
  EXPECT_EQ(g_changesMade, 1);
}

TEST_F(DeviceFiltersTest, BothListsOfOneDeviceShareItsBackupKey) {
  AddDevice(0, Multi({u"off", u"good"}), Multi({u"gone"}));
  RepairDeviceFiltersAlone(machine_, win::kSpdrpLowerFilters);
  RepairDeviceFiltersAlone(machine_, win::kSpdrpUpperFilters);
  EXPECT_EQ(Property(0, u"LowerFilters"), Show(Multi({u"good"})));
  // Every name gone: the property is cleared.
  EXPECT_EQ(Property(0, u"UpperFilters"), "(none)");
  EXPECT_EQ(Backup(0, u"LowerFilters_1"), Show(Multi({u"off", u"good"})));
  EXPECT_EQ(Backup(0, u"UpperFilters_1"), Show(Multi({u"gone"})));
}

TEST_F(DeviceFiltersTest, BackupNameFollowsTheValueNamesAlreadyThere) {
  struct Case {
    const char* what;
    std::vector<std::u16string> names_before;
    std::u16string_view written;
  };
  const Case cases[] = {
      {"first repair", {}, u"LowerFilters_1"},
      {"later repair", {u"LowerFilters_1"}, u"LowerFilters_2"},
      {"any name holding the text", {u"xLowerFilters_1.old"}, u"LowerFilters_2"},
      // The registry reads value names in any case: "lowerfilters_1" is
      // the first backup, which "LowerFilters_1" would overwrite.
      {"in another letter case", {u"lowerfilters_1"}, u"LowerFilters_2"},
      {"held in another letter case", {u"old.LOWERFILTERS_1"}, u"LowerFilters_2"},
      {"a _2 alone changes nothing", {u"LowerFilters_2"}, u"LowerFilters_1"},
      {"the other list's backup does not count", {u"UpperFilters_1"},
       u"LowerFilters_1"},
      {"the device named beside a first backup is no first backup",
       {u"DeviceOf.LowerFilters.1"}, u"LowerFilters_1"},
      {"a name longer than any list buffer is read whole",
       {u"LowerFilters_1" + std::u16string(2000, u'x')}, u"LowerFilters_2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform machine;
    SeedFilterServices(machine);
    machine.AddCdromDevice(u"IDE\\CdRom\\0");
    machine.PutMultiSz(Device(0), u"LowerFilters", {u"gone"});
    for (const auto& name : c.names_before) {
      machine.PutValue(BackupKey(0), name, win::kRegMultiSz, ListBytes({u"old"}));
    }
    RepairDeviceFiltersAlone(machine, win::kSpdrpLowerFilters);
    EXPECT_EQ(Show(machine.GetValue(BackupKey(0), c.written)),
              Show(Multi({u"gone"})));
    // Beside it, the device it came from.
    EXPECT_EQ(Show(machine.GetValue(BackupKey(0), DeviceBackupIdValueName(c.written))),
              Show(MemoryPlatform::StoredValue{
                  win::kRegSz, Utf16Bytes(std::u16string_view(u"IDE\\CdRom\\0\0", 12))}));
  }
}

TEST_F(DeviceFiltersTest, SingleStringBecomesTheListWindowsReadsKeepingWhatItDrops) {
  struct Case {
    const char* what;
    std::u16string_view stored;  // REG_SZ units
    Value backup;                // "LowerFilters_1" afterwards
  };
  const auto sz = [](std::u16string_view units) {
    return Value(MemoryPlatform::StoredValue{win::kRegSz, Utf16Bytes(units)});
  };
  const Case cases[] = {
      {"one valid name: a ten-byte list, nothing to keep",
       std::u16string_view(u"abc\0", 4), std::nullopt},
      {"the rest of a list written with the wrong type is kept as read",
       std::u16string_view(u"abc\0gone\0", 9), sz(std::u16string_view(u"abc\0gone\0", 9))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform machine;
    SeedFilterServices(machine);
    machine.AddCdromDevice(u"IDE\\CdRom\\0");
    machine.PutValue(Device(0), u"LowerFilters", win::kRegSz, Utf16Bytes(c.stored));
    RepairDeviceFiltersAlone(machine, win::kSpdrpLowerFilters);
    EXPECT_EQ(Show(machine.GetValue(Device(0), u"LowerFilters")),
              Show(MemoryPlatform::StoredValue{
                  win::kRegMultiSz, Utf16Bytes(std::u16string_view(u"abc\0\0", 5))}));
    EXPECT_EQ(Show(machine.GetValue(BackupKey(0), u"LowerFilters_1")), Show(c.backup));
    // Windows reads the same one name before and after: no reboot.
    EXPECT_EQ(g_changesMade, 0);
  }
}

TEST_F(DeviceFiltersTest, DisabledServiceGoesWhileItsDriverIsRestored) {
  AddDevice(0, Multi({u"offbak", u"OFFBAK", u"abc"}));
  RepairDeviceFiltersAlone(machine_, win::kSpdrpLowerFilters);
  EXPECT_EQ(Property(0, u"LowerFilters"), Show(Multi({u"abc"})));
  EXPECT_TRUE(machine_.FileExists(u"C:\\windows\\system32\\drivers\\offbak.sys"));
  // The duplicate is judged again: the file is there by then.
  EXPECT_EQ(Log(),
            "No ImagePath and driver file into default image path not found "
            "for:  offbak\r\n");
}

TEST_F(DeviceFiltersTest, BackupKeyThatRefusesWritesLeavesTheListAsRead) {
  AddDevice(0, Multi({u"gone", u"good"}));
  machine_.PutKey(BackupKey(0));
  machine_.DenyAccess(BackupKey(0), win::kKeySetValue);
  RepairDeviceFiltersAlone(machine_, win::kSpdrpLowerFilters);
  EXPECT_EQ(Property(0, u"LowerFilters"), Show(Multi({u"gone", u"good"})));
  EXPECT_EQ(g_changesMade, 0);
  EXPECT_EQ(Log(),
            "Could not open key :\r\n"
            "SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0\r\n");
}

TEST_F(DeviceFiltersTest, ListsThatCannotBeJudgedAreLeftAlone) {
  const MemoryPlatform::StoredValue too_big{win::kRegMultiSz,
                                            std::string(2050, 'a')};
  const MemoryPlatform::StoredValue empty{win::kRegMultiSz, std::string(2, '\0')};
  const MemoryPlatform::StoredValue zeros{win::kRegBinary, std::string(8, '\0')};
  AddDevice(0, too_big);
  AddDevice(1, empty);
  AddDevice(2, zeros);
  RepairDeviceFiltersAlone(machine_, win::kSpdrpLowerFilters);
  EXPECT_EQ(Property(0, u"LowerFilters"), Show(too_big));
  EXPECT_EQ(Property(1, u"LowerFilters"), Show(empty));
  EXPECT_EQ(Property(2, u"LowerFilters"), Show(zeros));
  EXPECT_FALSE(machine_.KeyExists(u"SOFTWARE\\Kestrow"));
  EXPECT_EQ(g_changesMade, 0);
}

TEST_F(DeviceFiltersTest, ListFillingTheWholeBufferStaysInsideIt) {
  // 1024 units, no NUL at all: one name as long as the buffer.
  const MemoryPlatform::StoredValue full{win::kRegMultiSz,
                                         Utf16Bytes(std::u16string(1024, u'q'))};
  AddDevice(0, full);
  RepairDeviceFiltersAlone(machine_, win::kSpdrpLowerFilters);
  EXPECT_EQ(Property(0, u"LowerFilters"), "(none)");
  EXPECT_EQ(Backup(0, u"LowerFilters_1"), Show(full));
}

TEST_F(DeviceFiltersTest, ARepairedMachineIsLeftAloneByTheNextRun) {
  SeedQuietMachine();
  AddDevice(0, Multi({u"gone", u"good"}), Multi({u"abc"}));
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), 0);
  EXPECT_EQ(machine_.notices().size(), 1u);
  const std::string lower = Property(0, u"LowerFilters");
  ResetRunState();
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), 0);
  EXPECT_EQ(machine_.notices().size(), 1u);  // none more
  EXPECT_EQ(Property(0, u"LowerFilters"), lower);
  EXPECT_EQ(Backup(0, u"LowerFilters_2"), "(none)");
}

// Service packs copy the class filters into every device: a name that passed
// once is not looked up again, so a run opens no more keys for 8 devices
// than for 1.
TEST(KeptVerdicts, NamesEveryDeviceSharesAreLookedUpOnce) {
  std::vector<int> key_opens;
  std::vector<std::string> logs;
  for (const int devices : {1, 8}) {
    ResetRunState();
    MemoryPlatform machine;
    SeedFilterServices(machine);
    machine.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"good", u"abc"});
    machine.PutMultiSz(kCdromClassKey, u"UpperFilters", {u"nodriver", u"ondemand"});
    for (int n = 0; n < devices; ++n) {
      machine.AddCdromDevice(u"IDE\\CdRom\\" + std::u16string(1, char16_t(u'0' + n)));
      machine.PutMultiSz(Device(n), u"LowerFilters", {u"GOOD", u"abc"});
    }
    const int before = machine.key_opens();
    RunAsProcess(machine, u"Tarvox.exe -silent");
    key_opens.push_back(machine.key_opens() - before);
    logs.push_back(machine.FileBytes(u"C:\\windows\\Tarvox.log").value_or(""));
  }
  EXPECT_EQ(key_opens[0], key_opens[1]);
  EXPECT_EQ(logs[0], logs[1]);
}

// A restore moves a file: a name judged on that very file before must be
// judged again, and the run must leave what a run keeping no verdicts would.
TEST(KeptVerdicts, RestoreForgetsWhatFilesDecided) {
  const auto seed = [](MemoryPlatform& machine) {
    SeedFilterServices(machine);
    // Its driver is offbak's ".bak" copy, which offbak's restore takes away.
    const std::u16string key = u"SYSTEM\\CurrentControlSet\\Services\\onbak";
    machine.PutDword(key, u"Start", 1);
    machine.PutString(key, u"ImagePath", u"System32\\drivers\\offbak.bak");
    machine.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"onbak", u"good"});
    machine.PutMultiSz(kCdromClassKey, u"UpperFilters", {u"offbak"});
    machine.AddCdromDevice(u"IDE\\CdRom\\0");
    machine.PutMultiSz(Device(0), u"LowerFilters", {u"onbak", u"good"});
  };
  MemoryPlatform kept;
  seed(kept);
  RunAsProcess(kept, u"Tarvox.exe -silent");
  MemoryPlatform judged_each_time;
  seed(judged_each_time);
  NoPassedNames none;
  RunAsProcess(judged_each_time, u"Tarvox.exe -silent", &none);
  EXPECT_EQ(invariants::SameOutcome(kept, judged_each_time), "");
  EXPECT_EQ(Show(kept.GetValue(kCdromClassKey, u"LowerFilters")),
            Show(Multi({u"onbak", u"good"})));
  EXPECT_EQ(Show(kept.GetValue(Device(0), u"LowerFilters")), Show(Multi({u"good"})));
}

}  // namespace
}  // namespace tarvox::testing
