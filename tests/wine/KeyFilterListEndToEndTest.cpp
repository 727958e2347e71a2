// The filter lists of the class key and the critical-device entry, repaired
// by Tarvox.exe in a real registry and checked byte for byte, with the log
// lines in order and the exit code.
#include <windows.h>
#include <setupapi.h>

#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

using Entries = std::vector<std::wstring>;

class KeyFilterListEndToEnd : public EndToEnd {
 protected:
  void SetUp() override {
    RegisterProductFolder();
    SeedQuietMachine();
    // good: starts with the system, driver present. off: disabled. (gone has
    // no service at all.)
    Service(L"tvgood", 1);
    Service(L"tvgood2", 0);
    Service(L"tvoff", 4);
  }
  std::optional<std::string> Log() {
    return ReadFileBytes(In(kProductFolder, L"Tarvox.log"));
  }
  static std::string Show(const std::optional<RegValue>& value) {
    return value ? std::to_string(value->type) + ":" + value->bytes : "(none)";
  }
};

TEST_F(KeyFilterListEndToEnd, EachKindOfListIsJudgedBackedUpAndWritten) {
  using Value = std::optional<RegValue>;
  struct Case {
    const char* what;
    RegValue before;
    Value first_backup_before;
    Value after;  // nullopt: deleted
    Value first_backup;
    Value latest_backup;
    bool notice;
  };
  const RegValue list = Multi({L"tvgood", L"tvgone", L"tvgood2"});
  const RegValue pruned = Multi({L"tvgood", L"tvgood2"});
  const RegValue big{REG_MULTI_SZ, std::string(2050, 'a')};
  const Case cases[] = {
      {"a missing service is pruned, the list as read kept in _1", list,
       std::nullopt, pruned, list, std::nullopt, true},
      {"a second repair goes to _2 and keeps _1", list, Multi({L"first"}),
       pruned, Multi({L"first"}), list, true},
      {"every entry fails: the value is deleted",
       Multi({L"tvoff", L"tvgone"}), std::nullopt, std::nullopt,
       Multi({L"tvoff", L"tvgone"}), std::nullopt, true},
      {"an empty stored list is deleted, no notice",
       RegValue{REG_MULTI_SZ, std::string(2, '\0')}, std::nullopt,
       std::nullopt, std::nullopt, std::nullopt, false},
      {"a single string becomes a list, no backup, no notice",
       RegValue{REG_SZ, WideBytes(std::wstring(L"tvgood") + L'\0')},
       std::nullopt, Multi({L"tvgood"}), std::nullopt, std::nullopt, false},
      {"a single string holding more than its name is kept as read, no notice",
       RegValue{REG_SZ, WideBytes(std::wstring(L"tvgood\0tvgone\0", 14))},
       std::nullopt, Multi({L"tvgood"}),
       RegValue{REG_SZ, WideBytes(std::wstring(L"tvgood\0tvgone\0", 14))},
       std::nullopt, false},
      {"a single string that fails is kept as read",
       RegValue{REG_SZ, WideBytes(std::wstring(L"tvgone") + L'\0')},
       std::nullopt, std::nullopt,
       RegValue{REG_SZ, WideBytes(std::wstring(L"tvgone") + L'\0')},
       std::nullopt, true},
      {"an expandable string keeps its type in the backup",
       RegValue{REG_EXPAND_SZ, WideBytes(std::wstring(L"tvgone") + L'\0')},
       std::nullopt, std::nullopt,
       RegValue{REG_EXPAND_SZ, WideBytes(std::wstring(L"tvgone") + L'\0')},
       std::nullopt, true},
      {"a value over 2048 bytes is left alone", big, std::nullopt, big,
       std::nullopt, std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto name : {L"UpperFilters", L"UpperFilters_1", L"UpperFilters_2"}) {
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kClassKey.c_str(), name);
    }
    PutValue(kClassKey, L"UpperFilters", c.before.type, c.before.bytes);
    if (c.first_backup_before) {
      PutValue(kClassKey, L"UpperFilters_1", c.first_backup_before->type,
               c.first_backup_before->bytes);
    }
    const TarvoxRun run = RunTarvox(L"");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(run.notices.size(), c.notice ? 1u : 0u);
    EXPECT_EQ(Show(GetValue(kClassKey, L"UpperFilters")), Show(c.after));
    EXPECT_EQ(Show(GetValue(kClassKey, L"UpperFilters_1")), Show(c.first_backup));
    EXPECT_EQ(Show(GetValue(kClassKey, L"UpperFilters_2")), Show(c.latest_backup));
    EXPECT_EQ(Log(), std::nullopt);  // nothing here writes a line
  }
}

TEST_F(KeyFilterListEndToEnd, DisabledServiceGoesWhileItsDriverIsRestored) {
  Service(L"tvoffbak", 4, false);
  WriteFileBytes(In(drivers_, L"tvoffbak.bak"), "saved driver");
  PutMultiSz(kClassKey, L"LowerFilters", {L"tvoffbak", L"tvgood"});
  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), Multi({L"tvgood"}));
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters_1"),
            Multi({L"tvoffbak", L"tvgood"}));
  EXPECT_EQ(ReadFileBytes(In(drivers_, L"tvoffbak.sys")), "saved driver");
  EXPECT_FALSE(FileExists(In(drivers_, L"tvoffbak.bak")));
  EXPECT_EQ(Log(),
            "No ImagePath and driver file into default image path not found "
            "for:  tvoffbak\r\n");
}

TEST_F(KeyFilterListEndToEnd, ChecksRunAndLogInTheirFixedOrder) {
  // Class key: a missing driver without a copy in each list. Co-installer:
  // no key. Critical-device entry: no key, so two lines for each list.
  Service(L"tvlower", 1, false);
  Service(L"tvupper", 1, false);
  PutMultiSz(kClassKey, L"UpperFilters", {L"tvupper"});
  PutMultiSz(kClassKey, L"LowerFilters", {L"tvlower"});
  DeleteKeyTree(kCoInstallersKey);
  DeleteKeyTree(kCriticalDeviceKey);
  const TarvoxRun run = RunTarvox(L"");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(run.notices.size(), 1u);
  const std::string drivers = "C:\\windows\\system32\\drivers\\";
  const std::string missing =
      "No ImagePath and driver file into default image path not found for:  ";
  const std::string no_gencdrom =
      "Could not open key :\r\n"
      "SYSTEM\\CurrentControlSet\\Control\\CriticalDeviceDatabase\\gencdrom\r\n";
  EXPECT_EQ(Log(),
            missing + "tvlower\r\nBackup driver file has not been found:  " +
                drivers + "tvlower.bak\r\n" + missing +
                "tvupper\r\nBackup driver file has not been found:  " +
                drivers + "tvupper.bak\r\n"
                "Could not open key :\r\n"
                "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers\r\n" +
                no_gencdrom + no_gencdrom);
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), std::nullopt);
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters_1"), Multi({L"tvupper"}));
}

TEST_F(KeyFilterListEndToEnd, NoRightsOnTheClassKeyEndTheRunWithMinusOne) {
  PutMultiSz(kClassKey, L"LowerFilters", {L"tvgone"});
  PutMultiSz(kCriticalDeviceKey, L"LowerFilters", {L"tvgone"});
  PutMultiSz(kCoInstallersKey, kCdromClassGuid, {L"OrvaneCo.dll,Install"});
  WriteFileBytes(In(kProductFolder, L"Tarvox.log"), "older run\r\n");
  DenyKeyAccess(kClassKey, KEY_SET_VALUE);
  const TarvoxRun run = RunTarvox(L"");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0xFFFFFFFFu);
  EXPECT_TRUE(run.notices.empty());
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"TarvoxTmp.log")),
            "Not enough rights. Must login as administrator\r\n");
  EXPECT_EQ(Log(), "older run\r\n");
  // Nothing after it ran.
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"LowerFilters"), Multi({L"tvgone"}));
  EXPECT_EQ(GetValue(kCoInstallersKey, kCdromClassGuid),
            Multi({L"OrvaneCo.dll,Install"}));
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), Multi({L"tvgone"}));
}

TEST_F(KeyFilterListEndToEnd, CriticalDeviceListsAreRepairedLikeTheClassLists) {
  PutMultiSz(kCriticalDeviceKey, L"UpperFilters", {L"tvgone", L"tvgood"});
  PutMultiSz(kCriticalDeviceKey, L"LowerFilters", {L"tvgood"});
  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"UpperFilters"), Multi({L"tvgood"}));
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"UpperFilters_1"),
            Multi({L"tvgone", L"tvgood"}));
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"LowerFilters"), Multi({L"tvgood"}));
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"LowerFilters_1"), std::nullopt);
}

// A Services key whose security refuses listing its subkeys: each service's
// key still opens by its path, so every healthy filter stays, in the lists
// and on the devices; only a name that has no service goes. A service whose
// own key refuses reading as well cannot be judged: it stays too.
TEST_F(KeyFilterListEndToEnd, ServicesKeyThatRefusesListingCostsNoHealthyName) {
  Service(L"tvguarded", 4);
  DenyKeyAccess(kServicesKey + L"tvguarded", KEY_QUERY_VALUE);
  AddCdromDevice(L"ROOT\\CDROM\\0000");
  PutMultiSz(kClassKey, L"LowerFilters", {L"tvgood", L"tvgone", L"tvguarded"});
  PutMultiSz(kCriticalDeviceKey, L"UpperFilters", {L"tvgood2"});
  PutMultiSz(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000", L"UpperFilters",
             {L"tvgood", L"tvgood2"});
  DenyKeyAccess(L"SYSTEM\\CurrentControlSet\\Services", KEY_ENUMERATE_SUB_KEYS);
  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), Multi({L"tvgood", L"tvguarded"}));
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"UpperFilters"), Multi({L"tvgood2"}));
  EXPECT_EQ(DeviceProperty(L"ROOT\\CDROM\\0000", SPDRP_UPPERFILTERS),
            Multi({L"tvgood", L"tvgood2"}));
  EXPECT_FALSE(GetValue(kCriticalDeviceKey, L"UpperFilters_1").has_value());
  EXPECT_FALSE(KeyExists(L"SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0"));
  EXPECT_EQ(Log(), std::nullopt);
}

}  // namespace
}  // namespace tarvox::wintest
