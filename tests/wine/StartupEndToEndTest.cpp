// The start-up spine of Tarvox.exe, for real: single instance, Windows
// version check, where the log goes and how it is finished.
#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

// A run holds its guard under a plain name, which lives in its session, and
// under "Global\\", which every session sees (under Wine as on Windows the
// two are different objects): another run under either keeps both a repair
// and the check out.
TEST_F(EndToEnd, GuardHeldUnderEitherNameKeepsRepairAndCheckOut) {
  RegisterProductFolder();
  WriteFileBytes(In(kProductFolder, L"Tarvox.log"), "older run\r\n");
  // Nothing else set up for the checks: a run that got past the guard
  // would log.
  Service(L"tvgood", 1);
  PutMultiSz(kClassKey, L"UpperFilters", {L"tvgood", L"tvgone"});
  for (const char* name :
       {"TarvoxAppSingleIstanceMutex", "Global\\TarvoxAppSingleIstanceMutex"}) {
    SCOPED_TRACE(name);
    OwnedHandle mutex(CreateMutexA(nullptr, TRUE, name));
    ASSERT_TRUE(mutex.valid());

    const TarvoxRun run = RunTarvox(L"-silent");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(GetValue(kClassKey, L"UpperFilters"), Multi({L"tvgood", L"tvgone"}));
    EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
    EXPECT_FALSE(FileExists(In(windows_, L"TarvoxTmp.log")));
    EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")), "older run\r\n");

    std::string out;
    std::string err;
    const ProgramEnd check = RunConsoleProgram(L"\"" + CheckExe() + L"\"", 30000, &out, &err);
    EXPECT_EQ(check.exit_code, 2u);
    EXPECT_NE(err.find("a repair is running"), std::string::npos);
  }
}

// Started by a service (as deployment agents and scheduled tasks start it),
// on a window station nobody sees, a run that repairs something asks
// nobody for a reboot: it ends by itself, its log finished.
TEST_F(EndToEnd, StartedByAServiceItEndsByItselfWithItsRepairMade) {
  RegisterProductFolder();
  SeedQuietMachine();
  Service(L"tvgood", 1);
  Service(L"tvnodrv", 1, false);
  PutMultiSz(kClassKey, L"UpperFilters", {L"tvgood", L"tvgone", L"tvnodrv"});

  EXPECT_EQ(RunFromAService(TarvoxExe()), "exit 0");
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters"), Multi({L"tvgood"}));
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters_1"),
            Multi({L"tvgood", L"tvgone", L"tvnodrv"}));
  EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")),
            "No ImagePath and driver file into default image path not found for:  tvnodrv\r\n"
            "Backup driver file has not been found:  C:\\windows\\system32\\drivers\\tvnodrv.bak\r\n");
}

// Windows 8 and later have no critical device database: on a healthy
// machine a run logs nothing, so the older log (here the record of a
// restore) stays, and the check has nothing to say about the missing key.
TEST_F(EndToEnd, OnWindows10AMissingCriticalDeviceKeyIsNoFaultAndTheOlderLogStays) {
  RegisterProductFolder();
  PutKey(kCoInstallersKey);
  PutKey(kClassKey);
  DeleteKeyTree(kCriticalDeviceKey);
  const std::string restore =
      "C:\\windows\\system32\\drivers\\tvflt.sys  converted from *.bak to *.sys file.\r\n"
      "Driver file has not been found:  C:\\tools\\tvother.sys\r\n";
  WriteFileBytes(In(kProductFolder, L"Tarvox.log"), restore);
  PretendWindowsVersion(L"Tarvox.exe", L"win10");
  PretendWindowsVersion(L"TarvoxCheck.exe", L"win10");

  std::string out;
  std::string err;
  const ProgramEnd check = RunConsoleProgram(L"\"" + CheckExe() + L"\" --json", 30000, &out, &err);
  EXPECT_EQ(check.exit_code, 0u);
  EXPECT_NE(out.find("\"log\": []"), std::string::npos);
  EXPECT_NE(out.find("\"absent\": true"), std::string::npos);

  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")), restore);
  EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
}

TEST_F(EndToEnd, WindowsVersionFourEndsWithMinusOneAndKeepsTheTemporaryLog) {
  RegisterProductFolder();
  SeedQuietMachine();
  PretendWindowsVersion(L"Tarvox.exe", L"nt40");

  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0xFFFFFFFFu);
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"TarvoxTmp.log")),
            "Not supported platform\r\n");
  EXPECT_FALSE(FileExists(In(kProductFolder, L"Tarvox.log")));
}

TEST_F(EndToEnd, WindowsVersionFiveRuns) {
  SeedQuietMachine();
  PretendWindowsVersion(L"Tarvox.exe", L"win2k");
  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_FALSE(FileExists(In(windows_, L"TarvoxTmp.log")));
}

TEST_F(EndToEnd, EmptyRunLeavesNoTemporaryLogAndTheOlderLogAsItWas) {
  RegisterProductFolder();
  SeedQuietMachine();
  WriteFileBytes(In(kProductFolder, L"Tarvox.log"), "older run\r\n");

  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")), "older run\r\n");
}

}  // namespace
}  // namespace tarvox::wintest
