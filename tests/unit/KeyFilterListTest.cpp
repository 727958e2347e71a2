// The filter lists of the class key and the critical-device entry: judged,
// backed up, pruned, and what the two keys do differently.
#include "check/CheckRun.h"
#include "repair/KeyFilterList.h"
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

class KeyFilterListTest : public RunTest {
 protected:
  static MemoryPlatform::StoredValue Multi(const Entries& entries) {
    return {win::kRegMultiSz, ListBytes(entries)};
  }
};

TEST_F(KeyFilterListTest, JudgesEveryNameAndBacksUpTheListAsRead) {
  using Value = std::optional<MemoryPlatform::StoredValue>;
  struct Case {
    const char* what;
    MemoryPlatform::StoredValue before;
    Value first_backup_before;  // "LowerFilters_1" already there
    Value after;                // nullopt: the value is gone
    Value first_backup;
    Value latest_backup;
    int changed;
    std::string log;
  };
  const auto same = [](const MemoryPlatform::StoredValue& v) { return Value(v); };
  const auto list = Multi({u"good", u"gone", u"good2"});
  const auto typed = [](std::uint32_t type, std::u16string_view units) {
    return MemoryPlatform::StoredValue{type, Utf16Bytes(units)};
  };
  const Case cases[] = {
      {"a name without a service goes", list, std::nullopt,
       Multi({u"good", u"good2"}), same(list), std::nullopt, 1, ""},
      {"every name valid: nothing written", Multi({u"good", u"GOOD2"}),
       std::nullopt, Multi({u"good", u"GOOD2"}), std::nullopt, std::nullopt, 0,
       ""},
      {"on demand is how Plug and Play starts filters: it stays",
       Multi({u"ondemand"}), std::nullopt, Multi({u"ondemand"}), std::nullopt,
       std::nullopt, 0, ""},
      {"a disabled service goes; the list is then empty and deleted",
       Multi({u"off"}), std::nullopt, std::nullopt, Multi({u"off"}),
       std::nullopt, 1, ""},
      {"both spellings go at the first", Multi({u"off", u"OFF", u"good"}),
       std::nullopt, Multi({u"good"}), Multi({u"off", u"OFF", u"good"}),
       std::nullopt, 1, ""},
      {"a disabled service's missing driver is restored, the name still goes",
       Multi({u"offbak", u"good"}), std::nullopt, Multi({u"good"}),
       Multi({u"offbak", u"good"}), std::nullopt, 1,
       "No ImagePath and driver file into default image path not found for:  "
       "offbak\r\n"},
      {"a missing driver without a copy: both lines, the name goes",
       Multi({u"nodriver"}), std::nullopt, std::nullopt, Multi({u"nodriver"}),
       std::nullopt, 1,
       "No ImagePath and driver file into default image path not found for:  "
       "nodriver\r\nBackup driver file has not been found:  "
       "C:\\windows\\system32\\drivers\\nodriver.bak\r\n"},
      {"a second repair goes to _2 and keeps _1", list, Multi({u"first"}),
       Multi({u"good", u"good2"}), Multi({u"first"}), same(list), 1, ""},
      {"a _1 too large for a list buffer still counts", list,
       MemoryPlatform::StoredValue{win::kRegBinary, std::string(4000, 'x')},
       Multi({u"good", u"good2"}),
       MemoryPlatform::StoredValue{win::kRegBinary, std::string(4000, 'x')},
       same(list), 1, ""},
      {"an empty list is deleted without a backup or a reboot",
       typed(win::kRegMultiSz, std::u16string_view(u"\0\0", 2)), std::nullopt,
       std::nullopt, std::nullopt, std::nullopt, 0, ""},
      {"no data at all is an empty list too", typed(win::kRegMultiSz, u""),
       std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0, ""},
      {"a single string becomes a list of its name, with no backup",
       typed(win::kRegSz, std::u16string_view(u"good\0", 5)), std::nullopt,
       Multi({u"good"}), std::nullopt, std::nullopt, 0, ""},
      {"a single string stored without its NUL is closed all the same",
       typed(win::kRegSz, u"good"), std::nullopt, Multi({u"good"}),
       std::nullopt, std::nullopt, 0, ""},
      {"what follows a single string's NUL never was a filter, but is kept",
       typed(win::kRegSz, std::u16string_view(u"good\0gone\0", 10)),
       std::nullopt, Multi({u"good"}),
       typed(win::kRegSz, std::u16string_view(u"good\0gone\0", 10)),
       std::nullopt, 0, ""},
      {"...in the latest slot when the first is taken",
       typed(win::kRegSz, std::u16string_view(u"good\0gone\0", 10)),
       Multi({u"first"}), Multi({u"good"}), Multi({u"first"}),
       typed(win::kRegSz, std::u16string_view(u"good\0gone\0", 10)), 0, ""},
      {"trailing NULs are no data: no backup",
       typed(win::kRegSz, std::u16string_view(u"good\0\0\0", 7)),
       std::nullopt, Multi({u"good"}), std::nullopt, std::nullopt, 0, ""},
      {"a single string that fails is backed up as it was read",
       typed(win::kRegSz, std::u16string_view(u"gone\0", 5)), std::nullopt,
       std::nullopt, typed(win::kRegSz, std::u16string_view(u"gone\0", 5)),
       std::nullopt, 1, ""},
      {"a single string naming nothing but holding more is kept before it goes",
       typed(win::kRegSz, std::u16string_view(u"\0gone\0", 6)), std::nullopt,
       std::nullopt, typed(win::kRegSz, std::u16string_view(u"\0gone\0", 6)),
       std::nullopt, 0, ""},
      {"an empty list holding more than NULs is kept before it goes",
       typed(win::kRegMultiSz, std::u16string_view(u"\0\0junk", 6)),
       std::nullopt, std::nullopt,
       typed(win::kRegMultiSz, std::u16string_view(u"\0\0junk", 6)),
       std::nullopt, 0, ""},
      {"names whose service or driver cannot be looked at stay",
       Multi({u"guarded", u"unseen", u"gone"}), std::nullopt,
       Multi({u"guarded", u"unseen"}), Multi({u"guarded", u"unseen", u"gone"}),
       std::nullopt, 1, ""},
      {"an expandable string that passes stays as it is",
       typed(win::kRegExpandSz, std::u16string_view(u"good\0", 5)),
       std::nullopt, typed(win::kRegExpandSz, std::u16string_view(u"good\0", 5)),
       std::nullopt, std::nullopt, 0, ""},
      {"an expandable string that fails keeps its type in the backup",
       typed(win::kRegExpandSz, std::u16string_view(u"gone\0", 5)),
       std::nullopt, std::nullopt,
       typed(win::kRegExpandSz, std::u16string_view(u"gone\0", 5)),
       std::nullopt, 1, ""},
      {"binary data holding no name is not a list: it stays",
       MemoryPlatform::StoredValue{win::kRegBinary, std::string(6, '\0')},
       std::nullopt,
       MemoryPlatform::StoredValue{win::kRegBinary, std::string(6, '\0')},
       std::nullopt, std::nullopt, 0, ""},
      {"a number is judged as a list and kept whole in the backup",
       MemoryPlatform::StoredValue{win::kRegDword, std::string("\x41\0\0\0", 4)},
       std::nullopt, std::nullopt,
       MemoryPlatform::StoredValue{win::kRegDword, std::string("\x41\0\0\0", 4)},
       std::nullopt, 1, ""},
      {"garbage after the closing entry is kept in the backup",
       typed(win::kRegMultiSz, std::u16string_view(u"gone\0\0junk", 10)),
       std::nullopt, std::nullopt,
       typed(win::kRegMultiSz, std::u16string_view(u"gone\0\0junk", 10)),
       std::nullopt, 1, ""},
      {"a value over 2048 bytes is left alone",
       MemoryPlatform::StoredValue{win::kRegMultiSz, std::string(2050, 'a')},
       std::nullopt,
       MemoryPlatform::StoredValue{win::kRegMultiSz, std::string(2050, 'a')},
       std::nullopt, std::nullopt, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform machine;
    SeedFilterServices(machine);
    g_systemRoot = u"C:\\windows";
    OpenRunLog(machine);
    machine.PutValue(kCdromClassKey, u"LowerFilters", c.before.type,
                     c.before.bytes);
    if (c.first_backup_before) {
      machine.PutValue(kCdromClassKey, u"LowerFilters_1",
                       c.first_backup_before->type,
                       c.first_backup_before->bytes);
    }
    RepairClassFilterListAlone(machine, u"LowerFilters");
    const auto value = [&](std::u16string_view name) -> Value {
      const auto stored = machine.GetValue(kCdromClassKey, name);
      if (!stored) return std::nullopt;
      return stored;
    };
    const auto show = [](const Value& v) {
      return v ? std::to_string(v->type) + ":" + v->bytes : "(none)";
    };
    EXPECT_EQ(show(value(u"LowerFilters")), show(c.after));
    EXPECT_EQ(show(value(u"LowerFilters_1")), show(c.first_backup));
    EXPECT_EQ(show(value(u"LowerFilters_2")), show(c.latest_backup));
    EXPECT_EQ(g_changesMade, c.changed);
    RunLog.Close();
    EXPECT_EQ(machine.FileBytes(u"C:\\windows\\TarvoxTmp.log"), c.log);
  }
}

TEST_F(KeyFilterListTest, ListFillingTheWholeBufferIsJudgedInsideIt) {
  // 1024 units of names and NULs with no closing entry: the last name runs
  // to the buffer's end.
  SeedFilterServices(machine_);
  std::u16string units;
  for (int i = 0; i < 204; ++i) units += std::u16string(u"good\0", 5);
  units.resize(1024, u'x');  // 1020 units, then "xxxx" up to the end
  machine_.PutValue(kCdromClassKey, u"UpperFilters", win::kRegMultiSz,
                    Utf16Bytes(units));
  g_systemRoot = u"C:\\windows";
  EXPECT_EQ(RepairClassFilterListAlone(machine_, u"UpperFilters"), 1);
  // The last, cut name has no service: it goes, the rest stays, and the
  // backup holds the 2048 bytes as read.
  ASSERT_TRUE(machine_.GetValue(kCdromClassKey, u"UpperFilters_1"));
  EXPECT_EQ(machine_.GetValue(kCdromClassKey, u"UpperFilters_1")->bytes,
            Utf16Bytes(units));
  ASSERT_TRUE(machine_.GetValue(kCdromClassKey, u"UpperFilters"));
  const std::string after = machine_.GetValue(kCdromClassKey, u"UpperFilters")->bytes;
  EXPECT_EQ(after.size(), 204u * 10 + 2);  // 204 times "good", closed
  EXPECT_TRUE(after.ends_with(std::string("d\0\0\0\0\0", 6)));
}

TEST_F(KeyFilterListTest, BackupThatCannotBeWrittenLeavesTheListAsRead) {
  SeedFilterServices(machine_);
  machine_.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"gone", u"good"});
  machine_.FailWrites(kCdromClassKey, 1018);  // ERROR_KEY_DELETED
  EXPECT_EQ(RepairClassFilterListAlone(machine_, u"LowerFilters"), 0);
  EXPECT_EQ(machine_.GetValue(kCdromClassKey, u"LowerFilters")->bytes,
            ListBytes({u"gone", u"good"}));
  EXPECT_EQ(g_changesMade, 0);
}

// Windows 8 and later keep no critical device database: there a missing
// key is no list, and logs nothing, so a healthy machine's run leaves the
// older log (the record of an earlier repair) as it was. Any other failure,
// and every failure on older Windows, is logged and the run goes on. The
// check foresees the same lines.
TEST_F(KeyFilterListTest, CriticalDeviceKeyThatCannotBeOpenedIsLoggedUnlessItIsGoneByDesign) {
  struct Case {
    const char* what;
    WindowsVersion version;
    bool refused;  // the key is there, but may not be changed
    bool logged;
  };
  const Case cases[] = {
      {"Windows XP: missing", {5, 1}, false, true},
      {"Windows 7: missing", {6, 1}, false, true},
      {"Windows 8: missing", {6, 2}, false, false},
      {"Windows 10 and 11: missing", {10, 0}, false, false},
      {"Windows 10: refused", {10, 0}, true, true},
  };
  const std::string older = "restored earlier\r\n";
  const std::string lines =
      "Could not open key :\r\n"
      "SYSTEM\\CurrentControlSet\\Control\\CriticalDeviceDatabase\\gencdrom\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto arrange = [&](MemoryPlatform& machine) {
      machine.SetOsVersion(c.version.major, c.version.minor);
      machine.PutKey(u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers");
      machine.PutKey(kCdromClassKey);
      machine.AddFile(u"C:\\windows\\Tarvox.log", older);
      if (c.refused) machine.DenyAccess(kCdromCriticalDeviceKey, win::kKeySetValue);
    };
    MemoryPlatform checked;
    arrange(checked);
    ResetRunState();
    const check::CheckOutcome check = check::RunCheck(checked);
    MemoryPlatform machine;
    arrange(machine);
    EXPECT_EQ(RunAsProcess(machine, u"Tarvox.exe -silent"), 0);
    EXPECT_EQ(machine.FileBytes(u"C:\\windows\\Tarvox.log"),
              c.logged ? lines + lines : older);
    EXPECT_EQ(check.exit_code, check::kNothingToRepair);
    EXPECT_EQ(check.report.log_bytes, c.logged ? lines + lines : "");
    ASSERT_EQ(check.report.places.size(), 4u);
    EXPECT_EQ(check.report.places[2].not_there, !c.logged);
  }
}

TEST_F(KeyFilterListTest, NoRightsOnTheClassKeyEndTheRunBeforeAnythingElse) {
  SeedQuietMachine();
  machine_.PutMultiSz(u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers",
                      u"{4D36E965-E325-11CE-BFC1-08002BE10318}",
                      {u"OrvaneCo.dll,Install"});
  machine_.DenyAccess(kCdromClassKey, win::kKeySetValue);
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), -1);
  EXPECT_EQ(machine_.FileBytes(u"C:\\windows\\TarvoxTmp.log"),
            "Not enough rights. Must login as administrator\r\n");
  EXPECT_FALSE(machine_.FileExists(u"C:\\windows\\Tarvox.log"));
  EXPECT_TRUE(machine_.notices().empty());
  // The co-installer check never ran.
  EXPECT_EQ(machine_.GetValue(u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers",
                              u"{4D36E965-E325-11CE-BFC1-08002BE10318}")
                ->bytes,
            ListBytes({u"OrvaneCo.dll,Install"}));
}

TEST_F(KeyFilterListTest, ChecksLogInTheirFixedOrder) {
  SeedFilterServices(machine_);
  machine_.PutKey(kCdromClassKey);
  machine_.PutMultiSz(kCdromClassKey, u"UpperFilters", {u"nodriver"});
  machine_.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"offbak"});
  // No co-installer key, no critical-device key on a Windows that has the
  // critical device database: two lines each.
  machine_.SetOsVersion(6, 1);
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), 0);
  EXPECT_EQ(machine_.FileBytes(u"C:\\windows\\Tarvox.log"),
            "No ImagePath and driver file into default image path not found "
            "for:  offbak\r\n"
            "No ImagePath and driver file into default image path not found "
            "for:  nodriver\r\n"
            "Backup driver file has not been found:  "
            "C:\\windows\\system32\\drivers\\nodriver.bak\r\n"
            "Could not open key :\r\n"
            "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers\r\n"
            "Could not open key :\r\n"
            "SYSTEM\\CurrentControlSet\\Control\\CriticalDeviceDatabase\\gencdrom\r\n"
            "Could not open key :\r\n"
            "SYSTEM\\CurrentControlSet\\Control\\CriticalDeviceDatabase\\gencdrom\r\n");
  EXPECT_EQ(machine_.notices().size(), 1u);
}

}  // namespace
}  // namespace tarvox::testing
