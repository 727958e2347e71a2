// The start-up sequence as a whole: guard, platform check, log, exit codes.
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

constexpr std::u16string_view kWindowsTemp = u"C:\\windows\\TarvoxTmp.log";
constexpr std::u16string_view kWindowsFinal = u"C:\\windows\\Tarvox.log";

TEST_F(RunTest, SecondInstanceEndsAtOnceTouchingNothing) {
  machine_.HoldMutex(u"TarvoxAppSingleIstanceMutex");
  machine_.SetOsMajorVersion(4);  // would end with -1 if it got that far
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), 0);
  EXPECT_EQ(machine_.key_opens(), 0);
  EXPECT_FALSE(machine_.FileExists(kWindowsTemp));
  EXPECT_TRUE(machine_.notices().empty());
}

TEST_F(RunTest, WindowsOlderThanVersionFiveEndsWithMinusOneBeforeAnyCheck) {
  machine_.SetOsMajorVersion(4);
  machine_.AddFile(kWindowsFinal, "older run\r\n");
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), -1);
  // The temporary log keeps its line and is not finished.
  EXPECT_EQ(machine_.FileBytes(kWindowsTemp), "Not supported platform\r\n");
  EXPECT_EQ(machine_.FileBytes(kWindowsFinal), "older run\r\n");
  // Only the product folder was looked up.
  EXPECT_EQ(machine_.key_opens(), 1);
  EXPECT_TRUE(machine_.notices().empty());
}

TEST_F(RunTest, VersionFiveRunsToTheEnd) {
  machine_.SetOsMajorVersion(5);
  EXPECT_EQ(RunTarvox(), 0);
  EXPECT_FALSE(machine_.FileExists(kWindowsTemp));
}

TEST_F(RunTest, WindowsFolderComesFromSystemRootWhenItFits) {
  machine_.SetEnvironment(u"SystemRoot", u"D:\\WIN");
  machine_.AddFolder(u"D:\\WIN");
  RunTarvox();
  EXPECT_EQ(g_systemRoot, u"D:\\WIN");

  ResetRunState();
  const std::u16string too_long = u"D:\\" + std::u16string(257, u'w');
  machine_.SetEnvironment(u"SystemRoot", too_long);
  RunTarvox();
  EXPECT_EQ(g_systemRoot, u"");

  ResetRunState();
  machine_.SetEnvironment(u"SystemRoot", std::nullopt);
  RunTarvox();
  EXPECT_EQ(g_systemRoot, u"");
}

TEST_F(RunTest, TemporaryLogLeftByAnEarlierRunIsStartedAfresh) {
  machine_.AddFile(kWindowsTemp, "Not supported platform\r\n");
  EXPECT_EQ(RunTarvox(), 0);
  EXPECT_FALSE(machine_.FileExists(kWindowsTemp));
  EXPECT_FALSE(machine_.FileExists(kWindowsFinal));
}

}  // namespace
}  // namespace tarvox::testing
