// The start-up sequence as a whole: guard, platform check, log, exit codes.
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

constexpr std::u16string_view kWindowsTemp = u"C:\\windows\\TarvoxTmp.log";
constexpr std::u16string_view kWindowsFinal = u"C:\\windows\\Tarvox.log";

// The guard is held under a plain name (this session) and a global one
// (every session): another run under either keeps a start out, its own
// under both never does.
TEST_F(RunTest, AGuardHeldUnderEitherNameEndsAStartTouchingNothing) {
  struct Case {
    const char* what;
    void (*arrange)(MemoryPlatform&);
    bool runs;
  };
  const Case cases[] = {
      {"a run in this session",
       [](MemoryPlatform& m) { m.HoldMutex(u"TarvoxAppSingleIstanceMutex"); }, false},
      {"a run in another session",
       [](MemoryPlatform& m) { m.HoldMutex(u"Global\\TarvoxAppSingleIstanceMutex"); }, false},
      {"a run of another user, its guard refused to this one",
       [](MemoryPlatform& m) {
         m.HoldMutex(u"Global\\TarvoxAppSingleIstanceMutex");
         m.RefuseMutex(u"Global\\TarvoxAppSingleIstanceMutex");
       },
       false},
      {"the global name refused although nobody holds it",
       [](MemoryPlatform& m) { m.RefuseMutex(u"Global\\TarvoxAppSingleIstanceMutex"); }, true},
      // Services, SYSTEM agents and scheduled tasks: the plain name is the
      // global one, the run's own.
      {"session 0, nobody else", [](MemoryPlatform& m) { m.SetSession(0); }, true},
      {"session 0, another run there",
       [](MemoryPlatform& m) {
         m.SetSession(0);
         m.HoldMutex(u"TarvoxAppSingleIstanceMutex");
       },
       false},
      {"session 0, a run in a user's session",
       [](MemoryPlatform& m) {
         m.HoldMutex(u"Global\\TarvoxAppSingleIstanceMutex");
         m.SetSession(0);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryPlatform machine;
    c.arrange(machine);
    machine.SetOsVersion(4, 0);  // a start that gets past the guard ends with -1
    EXPECT_EQ(RunAsProcess(machine, u"Tarvox.exe"), c.runs ? -1 : 0);
    EXPECT_EQ(machine.key_opens(), c.runs ? 1 : 0);
    EXPECT_EQ(machine.FileExists(kWindowsTemp), c.runs);
    EXPECT_TRUE(machine.notices().empty());
  }
}

TEST_F(RunTest, WindowsOlderThanVersionFiveEndsWithMinusOneBeforeAnyCheck) {
  machine_.SetOsVersion(4, 0);
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
  machine_.SetOsVersion(5, 0);
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

// Started by a service, a scheduled task or a deployment agent, a notice
// would wait for ever where nobody sees it: the run ends as a silent one.
TEST_F(NoticeTest, NoticeNobodyCouldSeeIsNotShownAndTheRunEnds) {
  machine_.SetNoticeCanBeSeen(false);
  EXPECT_EQ(RunTarvox(u"Tarvox.exe"), 0);
  EXPECT_TRUE(machine_.notices().empty());
  EXPECT_EQ(g_changesMade, 1);
  EXPECT_TRUE(machine_.FileExists(kWindowsFinal));
  EXPECT_FALSE(machine_.FileExists(kWindowsTemp));
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
