// Where a driver file is looked for, what is logged when it is missing, and
// its restore from the ".bak" copy.
#include "services/DriverFile.h"
#include "support/ServicesByName.h"
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

using Form = ImagePathForm;

TEST(LocateDriverFile, EachImagePathFormLeadsWhereWindowsLoadsFrom) {
  struct Case {
    std::u16string_view image_path;
    Form form;
    std::u16string_view path;
  };
  const Case cases[] = {
      {u"", Form::kDefault, u"C:\\WIN\\system32\\drivers\\flt.sys"},
      {u"%SystemRoot%\\system32\\flt.sys", Form::kSystemRootVariable,
       u"C:\\WIN\\system32\\flt.sys"},
      // Not only system32 itself: every path below the Windows folder.
      {u"%SystemRoot%\\system32\\drivers\\flt.sys", Form::kSystemRootVariable,
       u"C:\\WIN\\system32\\drivers\\flt.sys"},
      {u"%SYSTEMROOT%\\x.sys", Form::kSystemRootVariable, u"C:\\WIN\\x.sys"},
      {u"system32\\drivers\\flt.sys", Form::kRelative,
       u"C:\\WIN\\system32\\drivers\\flt.sys"},
      {u"System32\\DRIVERS\\sub\\flt.sys", Form::kRelative,
       u"C:\\WIN\\System32\\DRIVERS\\sub\\flt.sys"},
      {u"flt.sys", Form::kRelative, u"C:\\WIN\\flt.sys"},
      {u"drivers/flt.sys", Form::kRelative, u"C:\\WIN\\drivers/flt.sys"},
      {u"\\SystemRoot\\System32\\DRIVERS\\flt.sys", Form::kSystemRootPrefix,
       u"C:\\WIN\\System32\\DRIVERS\\flt.sys"},
      {u"\\SYSTEMROOT\\SYSTEM32\\DRIVERS\\flt.sys", Form::kSystemRootPrefix,
       u"C:\\WIN\\SYSTEM32\\DRIVERS\\flt.sys"},
      {u"\\SystemRoot\\System32\\flt.sys", Form::kSystemRootPrefix,
       u"C:\\WIN\\System32\\flt.sys"},
      {u"\\??\\D:\\Tools\\flt.sys", Form::kNtDrivePath, u"D:\\Tools\\flt.sys"},
      {u"\\DosDevices\\d:\\flt.sys", Form::kNtDrivePath, u"d:\\flt.sys"},
      {u"D:\\Tools\\flt.sys", Form::kAbsolute, u"D:\\Tools\\flt.sys"},
      {u"D:/Tools/flt.sys", Form::kAbsolute, u"D:/Tools/flt.sys"},
      {u"\\Device\\HarddiskVolume2\\flt.sys", Form::kUnknown, u""},
      {u"\\??\\UNC\\server\\share\\flt.sys", Form::kUnknown, u""},
      {u"\\\\server\\share\\flt.sys", Form::kUnknown, u""},
      {u"\\flt.sys", Form::kUnknown, u""},
      {u"%ProgramFiles%\\Tools\\flt.sys", Form::kUnknown, u""},
      {u"%SystemRoot%flt.sys", Form::kUnknown, u""},
      {u"D:flt.sys", Form::kUnknown, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.image_path.begin(), c.image_path.end()));
    const DriverFileLocation found = LocateDriverFile(c.image_path, u"flt", u"C:\\WIN");
    EXPECT_EQ(found.form, c.form);
    EXPECT_EQ(found.path, c.path);
  }
}

TEST(LocateDriverFile, WithoutTheWindowsFolderOnlyDrivePathsAreLookedFor) {
  EXPECT_EQ(LocateDriverFile(u"", u"flt", u"").form, Form::kUnknown);
  EXPECT_EQ(LocateDriverFile(u"system32\\drivers\\flt.sys", u"flt", u"").form,
            Form::kUnknown);
  EXPECT_EQ(LocateDriverFile(u"\\SystemRoot\\flt.sys", u"flt", u"").form,
            Form::kUnknown);
  EXPECT_EQ(LocateDriverFile(u"\\??\\D:\\flt.sys", u"flt", u"").path,
            u"D:\\flt.sys");
}

TEST(BackupPathOf, DropsTheLastThreeUnitsWhateverTheyAre) {
  EXPECT_EQ(BackupPathOf(u"C:\\WIN\\System32\\DRIVERS\\flt.SYS"),
            u"C:\\WIN\\System32\\DRIVERS\\flt.bak");
  EXPECT_EQ(BackupPathOf(u"D:\\Tools\\filter"), u"D:\\Tools\\filbak");
  EXPECT_EQ(BackupPathOf(u"abc"), u"bak");
  EXPECT_EQ(BackupPathOf(u"ab"), u"bak");
  EXPECT_EQ(BackupPathOf(u""), u"bak");
}

TEST(FileErrorCause, MapsEveryWindowsErrorOfTheTable) {
  const std::pair<Status, int> rows[] = {
      {0, 0},   {2, 2},    {6, 2},   {18, 2},  {3, 3},   {15, 3},  {17, 3},
      {4, 4},   {5, 5},    {12, 5},  {19, 5},  {80, 5},  {183, 5}, {11, 6},
      {16, 7},  {24, 9},   {25, 9},  {20, 10}, {21, 10}, {22, 10}, {23, 10},
      {32, 11}, {33, 12},  {39, 13}, {112, 13}, {1, 1},  {7, 1},   {8, 1},
      {9, 1},   {10, 1},   {13, 1},  {14, 1},  {87, 1},  {1920, 1},
  };
  for (const auto& [error, cause] : rows) {
    EXPECT_EQ(FileErrorCause(error), cause) << "error " << error;
  }
}

class CheckDriverFileTest : public RunTest {
 protected:
  CheckDriverFileTest() {
    g_systemRoot = u"C:\\windows";
    OpenRunLog(machine_);
  }
  static void Service(MemoryPlatform& machine,
                      std::optional<std::u16string> image_path) {
    const std::u16string key = u"SYSTEM\\CurrentControlSet\\Services\\flt";
    machine.PutDword(key, u"Start", 1);
    if (image_path) machine.PutString(key, u"ImagePath", *image_path);
  }
  void Service(std::optional<std::u16string> image_path) {
    Service(machine_, std::move(image_path));
  }
  static std::string Log(MemoryPlatform& machine) {
    RunLog.Close();
    return machine.FileBytes(u"C:\\windows\\TarvoxTmp.log").value_or("");
  }
  std::string Log() { return Log(machine_); }
};

TEST_F(CheckDriverFileTest, LogsEachOutcomeWithItsPiecesInOrder) {
  constexpr std::u16string_view kDefault = u"C:\\windows\\system32\\drivers\\flt.sys";
  constexpr std::u16string_view kTools = u"D:\\Tools\\flt.sys";
  struct Case {
    const char* what;
    std::optional<std::u16string> image_path;
    std::vector<std::u16string_view> files;  // present before the check
    int result;
    std::string log;
    int changed;
    std::u16string_view present_after;  // empty: nothing to check
    // Paths that cannot be seen, and what looking at them answers.
    std::vector<std::pair<std::u16string_view, Status>> unseen = {};
  };
  const Case cases[] = {
      {"default path present", std::nullopt, {kDefault}, 1, "", 0, kDefault},
      {"default path missing, no backup", std::nullopt, {}, 0,
       "No ImagePath and driver file into default image path not found for:  flt\r\n"
       "Backup driver file has not been found:  "
       "C:\\windows\\system32\\drivers\\flt.bak\r\n",
       0, u""},
      {"default path restored: no line for the restore", u"",
       {u"C:\\windows\\system32\\drivers\\flt.bak"}, 1,
       "No ImagePath and driver file into default image path not found for:  flt\r\n",
       1, kDefault},
      {"ImagePath restored", std::u16string(kTools), {u"D:\\Tools\\flt.bak"}, 1,
       "Driver file has not been found:  D:\\Tools\\flt.sys\r\n"
       "D:\\Tools\\flt.sys  converted from *.bak to *.sys file.\r\n",
       1, kTools},
      {"ImagePath missing, no backup", u"System32\\DRIVERS\\flt.sys", {}, 0,
       "Driver file has not been found:  C:\\windows\\System32\\DRIVERS\\flt.sys\r\n"
       "Backup driver file has not been found:  "
       "C:\\windows\\System32\\DRIVERS\\flt.bak\r\n",
       0, u""},
      {"a folder named like the driver counts", std::u16string(kTools),
       {u"D:\\Tools\\flt.sys\\"}, 1, "", 0, u""},
      {"a place the tool cannot look is not judged",
       u"\\Device\\HarddiskVolume3\\flt.sys", {}, kCannotTell, "", 0, u""},
      {"a driver that cannot be seen is not judged: no line, no restore",
       std::u16string(kTools), {u"D:\\Tools\\flt.bak"}, kCannotTell, "", 0, u"",
       {{kTools, win::kAccessDenied}}},
      {"a driver on a network that does not answer is not judged either",
       std::u16string(kTools), {}, kCannotTell, "", 0, u"",
       {{u"D:\\", win::kBadNetPath}}},
      {"a backup that cannot be seen is tried: the rename decides",
       std::u16string(kTools), {}, 0,
       "Driver file has not been found:  D:\\Tools\\flt.sys\r\n"
       "D:\\Tools\\flt.bak could not be converted, cause :10\r\n",
       0, u"", {{u"D:\\Tools\\flt.bak", win::kNotReady}}},
      {"a file used as a folder names no file", u"D:\\Tools\\flt.sys\\x.sys",
       {u"D:\\Tools\\flt.sys"}, 0,
       "Driver file has not been found:  D:\\Tools\\flt.sys\\x.sys\r\n"
       "Backup driver file has not been found:  D:\\Tools\\flt.sys\\x.bak\r\n",
       0, u""},
      // Windows' loader opens the name as written; Win32 calls would find
      // "flt.sys" for it, or a device.
      {"a name that ends in a blank is not the file without it", u"D:\\Tools\\flt.sys ",
       {u"D:\\Tools\\flt.sys"}, 0,
       "Driver file has not been found:  D:\\Tools\\flt.sys \r\n"
       "Backup driver file has not been found:  D:\\Tools\\flt.sbak\r\n",
       0, u""},
      {"nor one that ends in a dot, through any spelling", u"\\??\\D:\\x\\..\\Tools/flt.sys.",
       {u"D:\\Tools\\flt.sys"}, 0,
       "Driver file has not been found:  D:\\x\\..\\Tools/flt.sys.\r\n"
       "Backup driver file has not been found:  D:\\x\\..\\Tools/flt.sbak\r\n",
       0, u""},
      {"a reserved name is no driver file", u"D:\\Tools\\nul.sys", {}, 0,
       "Driver file has not been found:  D:\\Tools\\nul.sys\r\n"
       "Backup driver file has not been found:  D:\\Tools\\nul.bak\r\n",
       0, u""},
      {"a file whose name really ends in a blank is the one loaded", u"D:\\Tools\\flt.sys ",
       {u"\\\\?\\D:\\Tools\\flt.sys "}, 1, "", 0, u"\\\\?\\D:\\Tools\\flt.sys "},
      {"and is restored under that name", u"D:\\Tools\\flt.sys ", {u"D:\\Tools\\flt.sbak"}, 1,
       "Driver file has not been found:  D:\\Tools\\flt.sys \r\n"
       "D:\\Tools\\flt.sys   converted from *.bak to *.sys file.\r\n",
       1, u"\\\\?\\D:\\Tools\\flt.sys "},
      {"wildcards name no file", u"D:\\Tools\\fl?.sys", {u"D:\\Tools\\flt.sys"},
       0,
       "Driver file has not been found:  D:\\Tools\\fl?.sys\r\n"
       "Backup driver file has not been found:  D:\\Tools\\fl?.bak\r\n",
       0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform machine;
    g_systemRoot = u"C:\\windows";
    OpenRunLog(machine);
    Service(machine, c.image_path);
    for (const auto file : c.files) {
      if (file.ends_with(u"\\")) {
        machine.AddFolder(file);
      } else {
        machine.AddFile(file, "driver");
      }
    }
    for (const auto& [path, status] : c.unseen) machine.MakeUnreachable(path, status);
    EXPECT_EQ(CheckDriverFile(machine, u"flt"), c.result);
    EXPECT_EQ(Log(machine), c.log);
    EXPECT_EQ(g_changesMade, c.changed);
    if (!c.present_after.empty()) {
      EXPECT_EQ(machine.FileBytes(c.present_after), "driver");
    }
  }
}

TEST_F(CheckDriverFileTest, FailedRenameLogsTheBackupAndTheCause) {
  Service(u"\\??\\D:\\Tools\\flt.sys");
  machine_.AddFile(u"D:\\Tools\\flt.bak", "driver");
  machine_.HoldExclusively(u"D:\\Tools\\flt.bak");
  EXPECT_EQ(CheckDriverFile(machine_, u"flt"), 0);
  EXPECT_EQ(Log(),
            "Driver file has not been found:  D:\\Tools\\flt.sys\r\n"
            "D:\\Tools\\flt.bak could not be converted, cause :11\r\n");
  EXPECT_EQ(g_changesMade, 0);
}

// The existence test missed a driver that the rename then finds in its way:
// it is there after all, and the name is not judged by its file.
TEST_F(CheckDriverFileTest, RenameThatFindsTheDriverInItsWayIsNoEvidence) {
  Service(u"D:\\Tools\\flt.sys");
  machine_.AddFile(u"D:\\Tools\\flt.sys", "driver");
  machine_.AddFile(u"D:\\Tools\\flt.bak", "copy");
  // The check opens the service's key, reads its ImagePath, then looks.
  machine_.FailOperation(machine_.operations() + 2, win::kFileNotFound);
  EXPECT_EQ(CheckDriverFile(machine_, u"flt"), kCannotTell);
  EXPECT_EQ(Log(),
            "Driver file has not been found:  D:\\Tools\\flt.sys\r\n"
            "D:\\Tools\\flt.bak could not be converted, cause :5\r\n");
  EXPECT_EQ(machine_.FileBytes(u"D:\\Tools\\flt.sys"), "driver");
  EXPECT_EQ(machine_.FileBytes(u"D:\\Tools\\flt.bak"), "copy");
}

TEST_F(CheckDriverFileTest, ServiceThatCannotBeReadIsNotJudgedByItsFile) {
  const std::u16string key = u"SYSTEM\\CurrentControlSet\\Services\\flt";
  // An ImagePath longer than 259 units.
  Service(u"D:\\" + std::u16string(300, u'p') + u".sys");
  EXPECT_EQ(CheckDriverFile(machine_, u"flt"), kCannotTell);
  // A service key that refuses reading.
  machine_.DenyAccess(key, win::kKeyQueryValue);
  EXPECT_EQ(CheckDriverFile(machine_, u"flt"), kCannotTell);
  EXPECT_EQ(Log(), "");
}

}  // namespace
}  // namespace tarvox::testing
