// Where the run log goes, what its lines look like, and how it is finished.
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

constexpr std::u16string_view kAppPaths =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\orvane.exe";
constexpr std::u16string_view kProduct = u"C:\\Program Files\\Orvane";

class RunLogTest : public RunTest {
 protected:
  void RegisterProduct(std::u16string_view folder) {
    machine_.PutString(kAppPaths, u"Path", folder);
    machine_.AddFolder(folder);
  }
  // Opens the log as a run does, after reading the Windows folder.
  int Open() {
    g_systemRoot = u"C:\\windows";
    return OpenRunLog(machine_);
  }
  std::optional<std::string> File(std::u16string_view folder,
                                  std::u16string_view name) {
    return machine_.FileBytes(std::u16string(folder) + u"\\" +
                              std::u16string(name));
  }
};

TEST_F(RunLogTest, GoesToTheRegisteredProductFolder) {
  RegisterProduct(kProduct);
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(g_logDirectory, kProduct);
  EXPECT_EQ(File(kProduct, u"TarvoxTmp.log"), "");
}

TEST_F(RunLogTest, GoesToTheWindowsFolderWithoutAUsableProductFolder) {
  const std::u16string too_long = u"C:\\" + std::u16string(243, u'p');  // 246
  const std::u16string far_too_long = u"C:\\" + std::u16string(257, u'p');
  struct Case {
    const char* what;
    std::optional<std::u16string> path;  // nullopt: no "Path" value
  };
  const Case cases[] = {
      {"not registered", std::nullopt},
      {"empty Path", u""},
      {"Path of 246 units: no room for the file name", too_long},
      {"Path of 260 units", far_too_long},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform fresh;
    if (c.path) {
      fresh.PutString(kAppPaths, u"Path", *c.path);
      fresh.AddFolder(*c.path);
    }
    g_systemRoot = u"C:\\windows";
    ASSERT_EQ(OpenRunLog(fresh), 1);
    EXPECT_EQ(g_logDirectory, u"C:\\windows");
    EXPECT_TRUE(fresh.FileExists(u"C:\\windows\\TarvoxTmp.log"));
    RunLog.Close();
  }
}

TEST_F(RunLogTest, TakesAFolderOf245UnitsAndOneThatEndsInABackslash) {
  const std::u16string longest = u"C:\\" + std::u16string(242, u'p');
  RegisterProduct(longest);
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(g_logDirectory, longest);
  RunLog.Close();

  ResetRunState();
  RegisterProduct(u"C:\\Program Files\\Orvane\\");
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(g_logDirectory, u"C:\\Program Files\\Orvane\\");
  EXPECT_TRUE(machine_.FileExists(u"C:\\Program Files\\Orvane\\TarvoxTmp.log"));
}

TEST_F(RunLogTest, PathDataWithoutNulEndsAtTheBuffersEnd) {
  // 2048 bytes of letters: no NUL anywhere. Too long for a folder, so set
  // aside, and nothing past the buffer was read.
  machine_.PutValue(kAppPaths, u"Path", win::kRegSz, std::string(2048, 'a'));
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(g_logDirectory, u"C:\\windows");
}

TEST_F(RunLogTest, UnusableFolderMeansNoLogAndTheRunGoesOn) {
  machine_.PutString(kAppPaths, u"Path", u"C:\\Removed Product");
  EXPECT_EQ(Open(), 0);
  EXPECT_FALSE(RunLog.is_open());
  RunLog << u"lost" << kEndLine;  // must not fail
  EXPECT_TRUE(machine_.AllFiles().empty());
}

TEST_F(RunLogTest, LinesAreJoinedPiecesEndedByCrLfInTheAnsiCodePage) {
  RunLog << u"before the log opens" << kEndLine;
  ASSERT_EQ(Open(), 1);
  RunLog << Message::kCouldNotOpenKey << kEndLine;
  RunLog << u"C:\\x\\flt.bak" << u" " << Message::kNotConverted << 5LL
         << kEndLine;
  RunLog << u"caf\u00e9 \u4e2d\u6587 ok" << kEndLine;
  RunLog << u"one\ntwo" << kEndLine;
  EXPECT_EQ(File(u"C:\\windows", u"TarvoxTmp.log"),
            "Could not open key :\r\n"
            "C:\\x\\flt.bak could not be converted, cause :5\r\n"
            "caf\xe9 ?? ok\r\n"
            "one\r\ntwo\r\n");
}

// Tarvox runs as administrator in a folder an installer chose: a log name
// planted there as a link must not be written, emptied, renamed or removed
// through. The run then has no log, and its checks still run.
TEST_F(RunLogTest, LinkInPlaceOfALogMeansNoLogAndNothingTouched) {
  struct Case {
    const char* what;
    std::u16string_view name;
    bool symbolic;  // else a file with a second name elsewhere
  };
  const Case cases[] = {
      {"temporary log is a symbolic link", u"TarvoxTmp.log", true},
      {"final log is a symbolic link", u"Tarvox.log", true},
      {"temporary log has a second name", u"TarvoxTmp.log", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform fresh;
    fresh.PutString(kAppPaths, u"Path", kProduct);
    fresh.AddFolder(kProduct);
    fresh.PutMultiSz(u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers",
                     u"{4D36E965-E325-11CE-BFC1-08002BE10318}",
                     {u"OrvaneCo.dll,Install"});
    const std::u16string planted = std::u16string(kProduct) + u"\\" + std::u16string(c.name);
    if (c.symbolic) {
      fresh.AddSymbolicLink(planted);
    } else {
      fresh.AddHardLinkedFile(planted, "someone else's data");
    }
    fresh.SetCommandLine(u"Tarvox.exe -silent");
    EXPECT_EQ(RepairApp(fresh).Run(), 0);
    EXPECT_EQ(g_changesMade, 1);  // the co-installer check ran
    EXPECT_EQ(fresh.FileBytes(planted), c.symbolic ? "" : "someone else's data");
    std::uint32_t attributes = 0;
    EXPECT_EQ(fresh.GetAttributes(planted, &attributes), win::kSuccess);
    EXPECT_EQ(fresh.AllFiles().size(), 1u);  // nothing else was created
  }
}

class FinishTest : public RunLogTest {
 protected:
  void SetUp() override {
    RegisterProduct(kProduct);
    ASSERT_EQ(Open(), 1);
  }
  std::u16string Temp() const { return std::u16string(kProduct) + u"\\TarvoxTmp.log"; }
  std::u16string Final() const { return std::u16string(kProduct) + u"\\Tarvox.log"; }
};

TEST_F(FinishTest, EmptyLogIsRemovedAndTheOlderFinalLogKept) {
  machine_.AddFile(Final(), "older run\r\n");
  FinishRunLog(machine_);
  EXPECT_FALSE(machine_.FileExists(Temp()));
  EXPECT_EQ(machine_.FileBytes(Final()), "older run\r\n");
}

TEST_F(FinishTest, LogWithLinesReplacesTheFinalLog) {
  machine_.AddFile(Final(), "older run\r\n");
  RunLog << u"this run" << kEndLine;
  FinishRunLog(machine_);
  EXPECT_FALSE(machine_.FileExists(Temp()));
  EXPECT_EQ(machine_.FileBytes(Final()), "this run\r\n");
}

TEST_F(FinishTest, FinalLogThatCannotBeRemovedLeavesTheNewLinesBesideIt) {
  machine_.AddFile(Final(), "older run\r\n");
  machine_.SetReadOnly(Final(), true);
  RunLog << u"this run" << kEndLine;
  FinishRunLog(machine_);
  EXPECT_EQ(machine_.FileBytes(Temp()), "this run\r\n");
  EXPECT_EQ(machine_.FileBytes(Final()), "older run\r\n");
}

TEST_F(FinishTest, FolderNamedLikeTheFinalLogStays) {
  machine_.AddFolder(Final());
  RunLog << u"this run" << kEndLine;
  FinishRunLog(machine_);
  EXPECT_EQ(machine_.FileBytes(Temp()), "this run\r\n");
  EXPECT_EQ(machine_.FindPath(Final()), win::kSuccess);
}

TEST_F(FinishTest, TempLogHeldByAnotherProgramLeavesBothLogsAlone) {
  machine_.AddFile(Final(), "older run\r\n");
  RunLog << u"this run" << kEndLine;
  machine_.HoldExclusively(Temp());
  FinishRunLog(machine_);
  EXPECT_EQ(machine_.FileBytes(Temp()), "this run\r\n");
  EXPECT_EQ(machine_.FileBytes(Final()), "older run\r\n");
}

// A temporary log an earlier run left (it could not replace a read-only or
// held final log, or it ended early) may be the only record that a driver
// was restored. It keeps its lines whatever this run does.
TEST_F(RunLogTest, TemporaryLogAnEarlierRunLeftKeepsItsLines) {
  struct Case {
    const char* what;
    std::optional<std::string> temp_before;  // nullopt: none
    bool final_read_only;
    const char* line;  // this run's line; null: it logs nothing
    std::optional<std::string> temp_after;
    std::string final_after;
    // The temporary log cannot be opened for writing: this run has none.
    bool temp_read_only = false;
    bool temp_held = false;
  };
  const Case cases[] = {
      {"nothing logged: both as they were", "earlier\r\n", false, nullptr,
       "earlier\r\n", "older run\r\n"},
      {"this run's lines follow the kept ones, and replace the final log",
       "earlier\r\n", false, "this run", std::nullopt,
       "earlier\r\nthis run\r\n"},
      {"a final log that cannot be replaced: all lines stay beside it",
       "earlier\r\n", true, "this run", "earlier\r\nthis run\r\n",
       "older run\r\n"},
      {"a read-only temporary log: no log, both as they were", "earlier\r\n", false,
       "this run", "earlier\r\n", "older run\r\n", true},
      {"a temporary log held without sharing writes: no log, both as they were",
       "earlier\r\n", false, "this run", "earlier\r\n", "older run\r\n", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform fresh;
    fresh.PutString(kAppPaths, u"Path", kProduct);
    fresh.AddFolder(kProduct);
    const std::u16string temp = std::u16string(kProduct) + u"\\TarvoxTmp.log";
    const std::u16string final = std::u16string(kProduct) + u"\\Tarvox.log";
    fresh.AddFile(final, "older run\r\n");
    fresh.SetReadOnly(final, c.final_read_only);
    if (c.temp_before) fresh.AddFile(temp, *c.temp_before);
    fresh.SetReadOnly(temp, c.temp_read_only);
    if (c.temp_held) fresh.HoldExclusively(temp);
    g_systemRoot = u"C:\\windows";
    const int opened = OpenRunLog(fresh);
    ASSERT_EQ(opened, c.temp_read_only || c.temp_held ? 0 : 1);
    if (c.line != nullptr) {
      RunLog << std::u16string(c.line, c.line + std::char_traits<char>::length(c.line))
             << kEndLine;
    }
    if (opened != 0) FinishRunLog(fresh);
    EXPECT_EQ(fresh.FileBytes(temp), c.temp_after);
    EXPECT_EQ(fresh.FileBytes(final), c.final_after);
  }
}

// A support technician tailing a log holds it open with read and write
// sharing, the only way anyone can open it while Tarvox writes. The older log
// must survive whatever the finishing step cannot do.
TEST_F(FinishTest, LogViewerNeverCostsTheOlderLog) {
  struct Case {
    const char* what;
    bool view_temp;
    bool view_final;
  };
  const Case cases[] = {
      {"viewer on the temporary log", true, false},
      {"viewer on the older log", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform fresh;
    fresh.AddFolder(kProduct);
    fresh.PutString(kAppPaths, u"Path", kProduct);
    g_systemRoot = u"C:\\windows";
    ASSERT_EQ(OpenRunLog(fresh), 1);
    fresh.AddFile(Final(), "older run\r\n");
    RunLog << u"this run" << kEndLine;
    if (c.view_temp) fresh.HoldShared(Temp());
    if (c.view_final) fresh.HoldShared(Final());
    FinishRunLog(fresh);
    EXPECT_EQ(fresh.FileBytes(Final()), "older run\r\n");
    EXPECT_EQ(fresh.FileBytes(Temp()), "this run\r\n");
  }
}

}  // namespace
}  // namespace tarvox::testing
