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
  SeedQuietMachine();
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

TEST_F(RunTest, TemporaryLogLeftByAnEarlierRunKeepsItsLines) {
  SeedQuietMachine();
  machine_.AddFile(kWindowsTemp, "Not supported platform\r\n");
  EXPECT_EQ(RunTarvox(), 0);
  EXPECT_EQ(machine_.FileBytes(kWindowsTemp), "Not supported platform\r\n");
  EXPECT_FALSE(machine_.FileExists(kWindowsFinal));
}

class NoticeTest : public RunTest {
 protected:
  // A run that removes the product's co-installer entry, so it changes the
  // registry.
  void SetUp() override {
    machine_.PutMultiSz(
        u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers",
        u"{4D36E965-E325-11CE-BFC1-08002BE10318}", {u"OrvaneCo.dll,Install"});
  }
};

TEST_F(NoticeTest, ChangesAskForARebootUnlessSilent) {
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), 0);
  ASSERT_EQ(machine_.notices().size(), 1u);
  const auto& notice = machine_.notices()[0];
  EXPECT_EQ(notice.text,
            u"There was some errors in the registry. The Tarvox corrected "
            u"this.\n       System must be rebooted for changes to become "
            u"effective.");
  EXPECT_EQ(notice.caption, u"Tarvox");
  EXPECT_EQ(notice.style, 0x40u);  // information icon, OK button
}

TEST_F(NoticeTest, SilentRunChangesTheSameAndShowsNothing) {
  EXPECT_EQ(RunTarvox(u"Tarvox.exe -SILENT"), 0);
  EXPECT_TRUE(machine_.notices().empty());
  EXPECT_EQ(g_changesMade, 1);
}

TEST_F(NoticeTest, CaptionIsTheNameTheProgramWasSavedUnder) {
  machine_.SetProgramBaseName(u"CdFix");
  RunTarvox(u"CdFix.exe");
  ASSERT_EQ(machine_.notices().size(), 1u);
  EXPECT_EQ(machine_.notices()[0].caption, u"CdFix");
}

TEST_F(RunTest, NothingChangedMeansNoNotice) {
  SeedQuietMachine();
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), 0);
  EXPECT_TRUE(machine_.notices().empty());
}

TEST_F(NoticeTest, RunWithoutALogStillRepairsAndAsks) {
  machine_.PutString(
      u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\orvane.exe",
      u"Path", u"C:\\Removed Product");
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), 0);
  EXPECT_EQ(machine_.notices().size(), 1u);
  EXPECT_TRUE(machine_.AllFiles().empty());
}

}  // namespace
}  // namespace tarvox::testing
