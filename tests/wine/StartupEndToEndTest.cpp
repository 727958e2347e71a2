// The start-up spine of Tarvox.exe, for real: single instance, Windows
// version check, where the log goes and how it is finished.
#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

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
  PutString(L"Software\\Wine\\AppDefaults\\Tarvox.exe", L"Version", L"nt40",
            HKEY_CURRENT_USER);

  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0xFFFFFFFFu);
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"TarvoxTmp.log")),
            "Not supported platform\r\n");
  EXPECT_FALSE(FileExists(In(kProductFolder, L"Tarvox.log")));
}

TEST_F(EndToEnd, WithoutAProductFolderTheLogGoesToTheWindowsFolder) {
  SeedQuietMachine();
  PutString(L"Software\\Wine\\AppDefaults\\Tarvox.exe", L"Version", L"nt40",
            HKEY_CURRENT_USER);

  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0xFFFFFFFFu);
  EXPECT_EQ(ReadFileBytes(In(windows_, L"TarvoxTmp.log")),
            "Not supported platform\r\n");
}

TEST_F(EndToEnd, WindowsVersionFiveRuns) {
  SeedQuietMachine();
  PutString(L"Software\\Wine\\AppDefaults\\Tarvox.exe", L"Version", L"win2k",
            HKEY_CURRENT_USER);
  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_FALSE(FileExists(In(windows_, L"TarvoxTmp.log")));
}

TEST_F(EndToEnd, EmptyRunLeavesNoTemporaryLogAndTheOlderLogAsItWas) {
  RegisterProductFolder();
  SeedQuietMachine();
  WriteFileBytes(In(kProductFolder, L"Tarvox.log"), "older run\r\n");
  WriteFileBytes(In(kProductFolder, L"TarvoxTmp.log"), "left by a crash\r\n");

  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")), "older run\r\n");
}

}  // namespace
}  // namespace tarvox::wintest
