// What old installers, hand edits and half-removed products leave in a real
// registry: Tarvox.exe ends with 0, keeps every buffer in bounds, and every
// later check still runs.
#include <windows.h>
#include <setupapi.h>

#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

using Entries = std::vector<std::wstring>;

std::string Units(const std::wstring& text) { return WideBytes(text); }

class HostileInputEndToEnd : public EndToEnd {
 protected:
  void SetUp() override {
    RegisterProductFolder();
    SeedQuietMachine();
    Service(L"tvgood", 1);
    AddCdromDevice(L"ROOT\\CDROM\\0000");
  }
  static std::string Show(const std::optional<RegValue>& value) {
    return value ? std::to_string(value->type) + ":" + std::to_string(value->bytes.size())
                 : "(none)";
  }
  TarvoxRun RunSilently() {
    const TarvoxRun run = RunTarvox(L"-silent");
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0u);
    return run;
  }
  // The last check of a run: a device upper-filter list with a stale name.
  void SeedLastCheck() {
    PutMultiSz(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000", L"UpperFilters",
               {L"tvgone", L"tvgood"});
  }
  void ExpectLastCheckRan() {
    EXPECT_EQ(DeviceProperty(L"ROOT\\CDROM\\0000", SPDRP_UPPERFILTERS),
              Multi({L"tvgood"}));
  }
};

TEST_F(HostileInputEndToEnd, ListsOfAnyTypeAndSizeStayInBounds) {
  // Full names, then one cut by the end of 2048 bytes with no NUL.
  std::wstring full;
  while (full.size() < 1017) full += std::wstring(L"tvgood") + L'\0';
  full.resize(1024, L'x');
  const RegValue binary{REG_BINARY, Units(std::wstring(L"tvgone\0", 7))};
  const RegValue number{REG_DWORD, std::string("\x41\0\0\0", 4)};
  const RegValue odd{REG_MULTI_SZ, Units(std::wstring(L"tvgood\0tvgone\0", 14)) + "z"};
  const RegValue over{REG_MULTI_SZ, std::string(2049, 'a')};
  const RegValue closed_with_junk{
      REG_MULTI_SZ, Units(std::wstring(L"tvgood\0\0", 8)) + std::string(2032, 'j')};
  PutValue(kClassKey, L"LowerFilters", binary.type, binary.bytes);
  PutValue(kClassKey, L"UpperFilters", number.type, number.bytes);
  PutValue(kCoInstallersKey, kCdromClassGuid, REG_MULTI_SZ,
           Units(std::wstring(L"OrvaneCo.dll,X\0", 15)) + "q");
  PutValue(kCriticalDeviceKey, L"LowerFilters", REG_MULTI_SZ, Units(full));
  PutValue(kCriticalDeviceKey, L"UpperFilters", over.type, over.bytes);
  PutValue(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000", L"LowerFilters",
           closed_with_junk.type, closed_with_junk.bytes);
  PutValue(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000", L"UpperFilters",
           odd.type, odd.bytes);
  RunSilently();

  // Judged as lists, saved exactly as they were, type included.
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), std::nullopt);
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters_1"), binary);
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters"), std::nullopt);
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters_1"), number);
  // An odd last byte is half a unit: here a name of its own.
  EXPECT_EQ(GetValue(kCoInstallersKey, kCdromClassGuid), Multi({L"q"}));
  // The cut name goes; the full ones stay; the 2048 bytes as read are kept.
  const auto kept = GetValue(kCriticalDeviceKey, L"LowerFilters");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->bytes.size() % 14, 2u);
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"LowerFilters_1"),
            (RegValue{REG_MULTI_SZ, Units(full)}));
  EXPECT_EQ(GetValue(kCriticalDeviceKey, L"UpperFilters"), over);
  // Junk after a list's end is no name; an odd last byte is half a unit.
  EXPECT_EQ(DeviceProperty(L"ROOT\\CDROM\\0000", SPDRP_LOWERFILTERS), closed_with_junk);
  EXPECT_EQ(Show(GetValue(L"SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0",
                          L"UpperFilters_1")),
            Show(odd));
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")), std::nullopt);
}

TEST_F(HostileInputEndToEnd, OddNamesAndPathsAreLoggedAndTheRunGoesOn) {
  // A name outside the ANSI code page, with no driver and no copy.
  Service(L"tv\u4e2d\U0001F600", 1, false);
  // A service key without a start type.
  PutKey(kServicesKey + L"tvnostart");
  WriteFileBytes(In(drivers_, L"tvnostart.sys"), "MZ");
  // An ImagePath longer than 259 units: not judged by its file.
  Service(L"tvlongpath", 1, false);
  PutValue(kServicesKey + L"tvlongpath", L"ImagePath", REG_EXPAND_SZ,
           WideBytes(L"C:\\" + std::wstring(300, L'p') + L".sys" + L'\0'));
  PutMultiSz(kClassKey, L"LowerFilters",
             {L"tv\u4e2d\U0001F600", L"tvnostart", L"tvlongpath", L"tvgood"});
  // A product folder too long for a path: the log goes to the Windows folder.
  PutString(kAppPathsKey, L"Path", L"C:\\" + std::wstring(270, L'o'));
  SeedLastCheck();
  RunSilently();

  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), Multi({L"tvlongpath", L"tvgood"}));
  EXPECT_EQ(ReadFileBytes(In(windows_, L"Tarvox.log")),
            "No ImagePath and driver file into default image path not found "
            "for:  tv???\r\n"
            "Backup driver file has not been found:  "
            "C:\\windows\\system32\\drivers\\tv???.bak\r\n");
  ExpectLastCheckRan();
}

// A log name planted as a hard link to a file elsewhere: nothing is written
// through it, the run has no log, and its checks run all the same.
TEST_F(HostileInputEndToEnd, LogPlantedAsAHardLinkIsNotWrittenThrough) {
  WriteFileBytes(L"C:\\precious.txt", "precious");
  ASSERT_TRUE(CreateHardLinkW(In(kProductFolder, L"TarvoxTmp.log").c_str(),
                              L"C:\\precious.txt", nullptr));
  PutMultiSz(kClassKey, L"LowerFilters", {L"tvnoservice"});  // would log nothing
  Service(L"tvlogged", 1, false);
  PutMultiSz(kClassKey, L"UpperFilters", {L"tvlogged"});  // would log two lines
  SeedLastCheck();
  RunSilently();
  EXPECT_EQ(ReadFileBytes(L"C:\\precious.txt"), "precious");
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"TarvoxTmp.log")), "precious");
  EXPECT_FALSE(FileExists(In(kProductFolder, L"Tarvox.log")));
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters"), std::nullopt);
  ExpectLastCheckRan();
}

}  // namespace
}  // namespace tarvox::wintest
