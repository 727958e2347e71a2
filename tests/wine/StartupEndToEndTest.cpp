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

}  // namespace
}  // namespace tarvox::wintest
