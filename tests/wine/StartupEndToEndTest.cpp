// The start-up spine of Tarvox.exe, for real: single instance, Windows
// version check, where the log goes and how it is finished.
#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

// Wine reports this Windows version ("nt40", "win2k", ...) to Tarvox.exe.
void PretendWindowsVersion(const std::wstring& version) {
  PutString(L"Software\\Wine\\AppDefaults\\Tarvox.exe", L"Version", version,
            HKEY_CURRENT_USER);
}

TEST_F(EndToEnd, SecondInstanceEndsAtOnceAndTouchesNoFile) {
  RegisterProductFolder();
  WriteFileBytes(In(kProductFolder, L"Tarvox.log"), "older run\r\n");
  // Nothing set up for the checks: a run that got past the guard would log.
  OwnedHandle mutex(CreateMutexW(nullptr, TRUE, L"TarvoxAppSingleIstanceMutex"));
  ASSERT_TRUE(mutex.valid());

  const TarvoxRun run = RunTarvox(L"");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_TRUE(run.notices.empty());
  EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
  EXPECT_FALSE(FileExists(In(windows_, L"TarvoxTmp.log")));
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")), "older run\r\n");
}

TEST_F(EndToEnd, WindowsVersionFourEndsWithMinusOneAndKeepsTheTemporaryLog) {
  RegisterProductFolder();
  SeedQuietMachine();
  PretendWindowsVersion(L"nt40");

  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0xFFFFFFFFu);
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"TarvoxTmp.log")),
            "Not supported platform\r\n");
  EXPECT_FALSE(FileExists(In(kProductFolder, L"Tarvox.log")));
}

TEST_F(EndToEnd, WindowsVersionFiveRuns) {
  SeedQuietMachine();
  PretendWindowsVersion(L"win2k");
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

// A temporary log an earlier run left may be the only record of what it did:
// a run that logs nothing leaves it as it is; a run that logs adds its lines
// after it, and the whole replaces the older final log.
TEST_F(EndToEnd, TemporaryLogAnEarlierRunLeftKeepsItsLines) {
  RegisterProductFolder();
  SeedQuietMachine();
  WriteFileBytes(In(kProductFolder, L"Tarvox.log"), "older run\r\n");
  const std::string kept =
      "C:\\windows\\system32\\drivers\\tvflt.sys  converted from *.bak to *.sys file.\r\n";
  WriteFileBytes(In(kProductFolder, L"TarvoxTmp.log"), kept);

  TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"TarvoxTmp.log")), kept);
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")), "older run\r\n");

  Service(L"tvnodriver", 1, false);
  PutMultiSz(kClassKey, L"LowerFilters", {L"tvnodriver"});
  run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")),
            kept +
                "No ImagePath and driver file into default image path not found "
                "for:  tvnodriver\r\n"
                "Backup driver file has not been found:  "
                "C:\\windows\\system32\\drivers\\tvnodriver.bak\r\n");
}

}  // namespace
}  // namespace tarvox::wintest
