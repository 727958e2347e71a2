// The filter properties of real CD-ROM-class devices, repaired by Tarvox.exe
// and read back through the device services; the backups under the tool's
// settings key, one per device position.
#include <windows.h>
#include <setupapi.h>

#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

using Entries = std::vector<std::wstring>;

const std::wstring kBackupKey = L"SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr";

std::wstring CdRom(int n) { return L"ROOT\\CDROM\\000" + std::to_wstring(n); }

class DeviceFiltersEndToEnd : public EndToEnd {
 protected:
  void SetUp() override {
    RegisterProductFolder();
    SeedQuietMachine();
    Service(L"tvgood", 1);
    Service(L"abc", 2);
    Service(L"tvoff", 4);
  }
  static void SetList(int n, const std::wstring& name, const RegValue& value) {
    PutValue(L"SYSTEM\\CurrentControlSet\\Enum\\" + CdRom(n), name, value.type,
             value.bytes);
  }
  static std::optional<RegValue> Lower(int n) {
    return DeviceProperty(CdRom(n), SPDRP_LOWERFILTERS);
  }
  static std::optional<RegValue> Upper(int n) {
    return DeviceProperty(CdRom(n), SPDRP_UPPERFILTERS);
  }
  static std::optional<RegValue> Backup(int n, const std::wstring& name) {
    return GetValue(kBackupKey + std::to_wstring(n), name);
  }
  // Windows deletes a cleared property; Wine 8 keeps an empty value.
  static bool Cleared(const std::optional<RegValue>& value) {
    return !value || value->bytes.empty();
  }
  TarvoxRun RunSilently() {
    const TarvoxRun run = RunTarvox(L"-silent");
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0u);
    return run;
  }
};

TEST_F(DeviceFiltersEndToEnd, OnlyTheThirdDeviceIsRepairedUnderBackupKeyTwo) {
  for (int n = 0; n < 3; ++n) AddCdromDevice(CdRom(n));
  SetList(0, L"LowerFilters", Multi({L"tvgood"}));
  // Device 1 has no list at all: skipped, but counted.
  SetList(2, L"LowerFilters", Multi({L"tvgone", L"abc"}));
  RunSilently();
  EXPECT_EQ(Lower(0), Multi({L"tvgood"}));
  EXPECT_EQ(Lower(1), std::nullopt);
  EXPECT_EQ(Lower(2), Multi({L"abc"}));
  EXPECT_EQ(Backup(2, L"LowerFilters_1"), Multi({L"tvgone", L"abc"}));
  EXPECT_FALSE(KeyExists(kBackupKey + L"0"));
  EXPECT_FALSE(KeyExists(kBackupKey + L"1"));
}

TEST_F(DeviceFiltersEndToEnd, BothListsShareKeyZeroAndALaterRunGoesToTwo) {
  AddCdromDevice(CdRom(0));
  SetList(0, L"LowerFilters", Multi({L"tvoff", L"tvgood"}));
  SetList(0, L"UpperFilters", Multi({L"tvgone"}));
  const TarvoxRun first = RunTarvox(L"");
  ASSERT_TRUE(first.ended);
  EXPECT_EQ(first.notices.size(), 1u);  // a device change asks for a reboot
  EXPECT_EQ(Lower(0), Multi({L"tvgood"}));
  EXPECT_TRUE(Cleared(Upper(0)));  // every name was invalid
  EXPECT_EQ(Backup(0, L"LowerFilters_1"), Multi({L"tvoff", L"tvgood"}));
  EXPECT_EQ(Backup(0, L"UpperFilters_1"), Multi({L"tvgone"}));

  // The same breakage again: "_2" takes it, "_1" keeps the first.
  SetList(0, L"LowerFilters", Multi({L"tvgone", L"tvgood"}));
  RunSilently();
  EXPECT_EQ(Lower(0), Multi({L"tvgood"}));
  EXPECT_EQ(Backup(0, L"LowerFilters_1"), Multi({L"tvoff", L"tvgood"}));
  EXPECT_EQ(Backup(0, L"LowerFilters_2"), Multi({L"tvgone", L"tvgood"}));
}

TEST_F(DeviceFiltersEndToEnd, SingleStringOfOneValidFilterBecomesTenBytes) {
  AddCdromDevice(CdRom(0));
  AddCdromDevice(CdRom(1));
  SetList(0, L"UpperFilters", RegValue{REG_SZ, WideBytes(std::wstring(L"abc") + L'\0')});
  // The rest of a list written with the wrong type: Windows reads "abc"
  // alone, but what follows is kept as it was read before it goes.
  const RegValue wrong_type{REG_SZ, WideBytes(std::wstring(L"abc\0tvgone\0", 11))};
  SetList(1, L"UpperFilters", wrong_type);
  const TarvoxRun run = RunTarvox(L"");
  ASSERT_TRUE(run.ended);
  EXPECT_TRUE(run.notices.empty());
  const RegValue ten_bytes{REG_MULTI_SZ, WideBytes(std::wstring(L"abc\0\0", 5))};
  EXPECT_EQ(Upper(0), ten_bytes);
  EXPECT_FALSE(KeyExists(kBackupKey + L"0"));
  EXPECT_EQ(Upper(1), ten_bytes);
  EXPECT_EQ(Backup(1, L"UpperFilters_1"), wrong_type);
}

// Value names are one whatever their letter case: a first backup someone
// saved as "lowerfilters_1" is "LowerFilters_1", and is never overwritten.
TEST_F(DeviceFiltersEndToEnd, FirstBackupInAnotherLetterCaseIsKept) {
  AddCdromDevice(CdRom(0));
  PutMultiSz(kBackupKey + L"0", L"lowerfilters_1", {L"first"});
  SetList(0, L"LowerFilters", Multi({L"tvgone", L"tvgood"}));
  RunSilently();
  EXPECT_EQ(Lower(0), Multi({L"tvgood"}));
  EXPECT_EQ(Backup(0, L"LowerFilters_1"), Multi({L"first"}));
  EXPECT_EQ(Backup(0, L"LowerFilters_2"), Multi({L"tvgone", L"tvgood"}));
}

TEST_F(DeviceFiltersEndToEnd, BackupKeyThatRefusesWritesLeavesTheListAsRead) {
  AddCdromDevice(CdRom(0));
  SetList(0, L"LowerFilters", Multi({L"tvgone", L"tvgood"}));
  PutKey(kBackupKey + L"0");
  DenyKeyAccess(kBackupKey + L"0", KEY_SET_VALUE);
  const TarvoxRun run = RunTarvox(L"");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(run.notices.empty());
  EXPECT_EQ(Lower(0), Multi({L"tvgone", L"tvgood"}));
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")),
            "Could not open key :\r\n"
            "SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0\r\n");
}

// Problems in every place the tool looks, in one run: the log lines come in
// the fixed order of the seven checks.
TEST_F(DeviceFiltersEndToEnd, WholeRunRepairsEveryPlaceInItsFixedOrder) {
  Service(L"tvclasslow", 1, false);
  Service(L"tvclassup", 1, false);
  Service(L"tvcritlow", 1, false);
  Service(L"tvcritup", 1, false);
  Service(L"tvdevlow", 1, false);
  Service(L"tvdevup", 1, false);
  WriteFileBytes(In(drivers_, L"tvdevup.bak"), "saved");
  PutMultiSz(kClassKey, L"LowerFilters", {L"tvclasslow", L"tvgood"});
  PutMultiSz(kClassKey, L"UpperFilters", {L"tvclassup"});
  PutMultiSz(kCoInstallersKey, kCdromClassGuid,
             {L"cdprop.dll,Pages", L"OrvaneCo.dll,OrvaneCoInstaller"});
  PutMultiSz(kCriticalDeviceKey, L"LowerFilters", {L"tvcritlow"});
  PutMultiSz(kCriticalDeviceKey, L"UpperFilters", {L"tvgood", L"tvcritup"});
  AddCdromDevice(CdRom(0));
  AddCdromDevice(CdRom(1));
  SetList(0, L"LowerFilters", Multi({L"tvdevlow", L"abc"}));
  SetList(1, L"UpperFilters", Multi({L"tvdevup", L"tvgone"}));

  const TarvoxRun run = RunTarvox(L"");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  ASSERT_EQ(run.notices.size(), 1u);
  EXPECT_EQ(run.notices[0].caption, L"Tarvox");

  const auto missing = [](const char* service) {
    return std::string(
               "No ImagePath and driver file into default image path not "
               "found for:  ") +
           service + "\r\nBackup driver file has not been found:  "
                     "C:\\windows\\system32\\drivers\\" +
           service + ".bak\r\n";
  };
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")),
            missing("tvclasslow") + missing("tvclassup") +
                missing("tvcritlow") + missing("tvcritup") +
                missing("tvdevlow") +
                "No ImagePath and driver file into default image path not "
                "found for:  tvdevup\r\n");

  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), Multi({L"tvgood"}));
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters_1"),
            Multi({L"tvclasslow", L"tvgood"}));
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters"), std::nullopt);
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters_1"), Multi({L"tvclassup"}));
  EXPECT_EQ(GetValue(kCoInstallersKey, kCdromClassGuid),
            Multi({L"cdprop.dll,Pages"}));
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"LowerFilters"), std::nullopt);
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"LowerFilters_1"),
            Multi({L"tvcritlow"}));
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"UpperFilters"), Multi({L"tvgood"}));
  EXPECT_EQ(Lower(0), Multi({L"abc"}));
  EXPECT_EQ(Backup(0, L"LowerFilters_1"), Multi({L"tvdevlow", L"abc"}));
  // The driver came back from its copy, so only the missing service goes.
  EXPECT_EQ(Upper(1), Multi({L"tvdevup"}));
  EXPECT_EQ(Backup(1, L"UpperFilters_1"), Multi({L"tvdevup", L"tvgone"}));
  EXPECT_EQ(ReadFileBytes(In(drivers_, L"tvdevup.sys")), "saved");

  // A second run finds nothing left to do.
  const TarvoxRun again = RunTarvox(L"");
  ASSERT_TRUE(again.ended);
  EXPECT_TRUE(again.notices.empty());
  EXPECT_EQ(Lower(0), Multi({L"abc"}));
  EXPECT_EQ(Backup(0, L"LowerFilters_2"), std::nullopt);
}

}  // namespace
}  // namespace tarvox::wintest
