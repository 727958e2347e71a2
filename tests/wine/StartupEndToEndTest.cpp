// The start-up spine of Tarvox.exe, for real: single instance, Windows
// version check, where the log goes and how it is finished.
#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

// A run holds its guard under a plain name, which lives in its session, and
// under "Global\\", which every session sees (in a user's session, under
// Wine as on Windows, the two are different objects): another run under
// either keeps both a repair and the check out.
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

// In session 0 (services, SYSTEM agents, scheduled tasks, and everything
// they start) the guard's plain name is its global one: a run finds its own
// mutex there and is no second instance. It repairs, --apply puts a filter
// back, and another run's guard still keeps both out. Wine runs every
// process in session 1; a link from the plain name to the global one makes
// the namespace session 0's.
TEST_F(EndToEnd, InSessionZeroARunRepairsAndAnotherRunStillKeepsItOut) {
  const OwnedHandle session_zero = LinkSessionNameToGlobal(L"TarvoxAppSingleIstanceMutex");
  ASSERT_TRUE(session_zero.valid());
  RegisterProductFolder();
  SeedQuietMachine();
  Service(L"tvgood", 1);
  Service(L"tvoff", 4);
  PutMultiSz(kClassKey, L"UpperFilters", {L"tvgood", L"tvoff"});
  const std::wstring restore = L"\"" + RestoreExe() + L"\" --name tvoff --apply";
  std::string out;
  std::string err;
  {
    // Another run there, its guard taken as a run takes it. (Wine makes no
    // object through a link whose target is not there yet: the global name
    // comes first, as it does in a run.)
    const OwnedHandle global(CreateMutexW(nullptr, TRUE, L"Global\\TarvoxAppSingleIstanceMutex"));
    const OwnedHandle plain(CreateMutexW(nullptr, TRUE, L"TarvoxAppSingleIstanceMutex"));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    const TarvoxRun kept_out = RunTarvox(L"-silent");
    ASSERT_TRUE(kept_out.ended);
    EXPECT_EQ(kept_out.exit_code, 0u);
    EXPECT_EQ(GetValue(kClassKey, L"UpperFilters"), Multi({L"tvgood", L"tvoff"}));
    EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
    Service(L"tvoff", 3);
    EXPECT_EQ(RunConsoleProgram(restore, 30000, &out, &err).exit_code, 2u);
    EXPECT_NE(err.find("a repair is running"), std::string::npos) << err;
    Service(L"tvoff", 4);
  }

  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters"), Multi({L"tvgood"}));
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters_1"), Multi({L"tvgood", L"tvoff"}));

  Service(L"tvoff", 3);
  EXPECT_EQ(RunConsoleProgram(restore, 30000, &out, &err).exit_code, 0u) << err;
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters"), Multi({L"tvgood", L"tvoff"}));
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
