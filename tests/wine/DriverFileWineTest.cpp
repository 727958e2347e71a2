// The driver-file check on the real Win32 calls: service keys in a real
// registry, driver files and their ".bak" copies in the prefix's Windows
// folder, the run log in a real file.
#include <gtest/gtest.h>

#include "log/RunLog.h"
#include "platform/RunState.h"
#include "platform/win32/Win32Platform.h"
#include "services/DriverFile.h"
#include "support/ServicesByName.h"
#include "wine/WinTestSupport.h"

namespace tarvox::wintest {
namespace {

const std::wstring kServices = L"SYSTEM\\CurrentControlSet\\Services\\";

class DriverFileOnWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    g_systemRoot = Utf16(windows_);
    g_changesMade = 0;
    MakeFolders(L"C:\\logs");
    ASSERT_EQ(RunLog.Open(os_, u"C:\\logs\\TarvoxTmp.log"), 0u);
    // Relative paths would resolve here, far from the Windows folder.
    MakeFolders(L"C:\\installer\\work");
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\installer\\work"));
  }
  void TearDown() override { RunLog.Close(); }

  void Service(const std::wstring& name, const std::wstring& image_path) {
    PutValue(kServices + name, L"Start", REG_DWORD, std::string("\1\0\0\0", 4));
    if (!image_path.empty()) {
      PutValue(kServices + name, L"ImagePath", REG_EXPAND_SZ,
               WideBytes(image_path + L'\0'));
    }
  }
  int Check(const std::wstring& name) {
    return CheckDriverFile(os_, Utf16(name));
  }
  std::string Log() {
    RunLog.Close();
    const std::string log = ReadFileBytes(L"C:\\logs\\TarvoxTmp.log").value_or("");
    // The log keeps what it holds: each look starts a new one.
    EXPECT_TRUE(DeleteFileW(L"C:\\logs\\TarvoxTmp.log"));
    EXPECT_EQ(RunLog.Open(os_, u"C:\\logs\\TarvoxTmp.log"), 0u);
    return log;
  }
  static std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
  }

  Win32Platform os_;
  const std::wstring windows_ = WindowsFolder();
  const std::wstring drivers_ = windows_ + L"\\system32\\drivers";
};

TEST_F(DriverFileOnWindows, EveryFormFindsItsFileWhereWindowsLoadsIt) {
  struct Case {
    std::wstring service;
    std::wstring image_path;
    std::wstring file;  // where the driver lies, spelled as it is looked for
  };
  MakeFolders(L"C:\\Tools");
  const Case cases[] = {
      {L"formdefault", L"", drivers_ + L"\\formdefault.sys"},
      {L"formvariable", L"%SystemRoot%\\system32\\drivers\\formvariable.sys",
       drivers_ + L"\\formvariable.sys"},
      {L"formrelative", L"System32\\DRIVERS\\formrelative.sys",
       windows_ + L"\\System32\\DRIVERS\\formrelative.sys"},
      {L"formprefix", L"\\SystemRoot\\System32\\formprefix.sys",
       windows_ + L"\\System32\\formprefix.sys"},
      {L"formnt", L"\\??\\C:\\Tools\\formnt.sys", L"C:\\Tools\\formnt.sys"},
      {L"formabsolute", L"C:\\Tools\\formabsolute.sys",
       L"C:\\Tools\\formabsolute.sys"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.service));
    Service(c.service, c.image_path);
    WriteFileBytes(c.file, "MZ");
    EXPECT_EQ(Check(c.service), 1);
    EXPECT_EQ(Log(), "");
    ASSERT_TRUE(DeleteFileW(c.file.c_str()));
    EXPECT_EQ(Check(c.service), 0);
    const std::string backup = Narrow(c.file.substr(0, c.file.size() - 3)) + "bak";
    const std::string first =
        c.image_path.empty()
            ? "No ImagePath and driver file into default image path not found "
              "for:  " + Narrow(c.service)
            : "Driver file has not been found:  " + Narrow(c.file);
    EXPECT_EQ(Log(), first + "\r\nBackup driver file has not been found:  " +
                         backup + "\r\n");
  }
  EXPECT_EQ(g_changesMade, 0);
}

// Windows' loader opens an ImagePath as written: a name that ends in a
// blank (an installer's slip) is not the file Win32 calls find without it,
// nor is a reserved name a file.
TEST_F(DriverFileOnWindows, NamesWin32WouldTrimOrTakeForADeviceAreMissing) {
  MakeFolders(L"C:\\Tools");
  WriteFileBytes(L"C:\\Tools\\blank.sys", "MZ");
  Service(L"blank", L"\\??\\C:\\Tools\\blank.sys ");
  EXPECT_EQ(Check(L"blank"), 0);
  EXPECT_EQ(Log(),
            "Driver file has not been found:  C:\\Tools\\blank.sys \r\n"
            "Backup driver file has not been found:  C:\\Tools\\blank.sbak\r\n");
  Service(L"device", L"C:\\Tools\\con.sys");
  EXPECT_EQ(Check(L"device"), 0);
  EXPECT_EQ(g_changesMade, 0);
  EXPECT_EQ(ReadFileBytes(L"C:\\Tools\\blank.sys"), "MZ");
}

TEST_F(DriverFileOnWindows, FolderNamedLikeTheDriverCountsAsPresent) {
  Service(L"foldered", L"system32\\drivers\\foldered.sys");
  MakeFolders(drivers_ + L"\\foldered.sys");
  EXPECT_EQ(Check(L"foldered"), 1);
  EXPECT_EQ(Log(), "");
}

TEST_F(DriverFileOnWindows, MissingDriverComesBackFromItsBakCopy) {
  Service(L"restored", L"\\SystemRoot\\System32\\drivers\\restored.SYS");
  WriteFileBytes(drivers_ + L"\\restored.bak", "saved driver");
  EXPECT_EQ(Check(L"restored"), 1);
  const std::string path = Narrow(windows_) + "\\System32\\drivers\\restored.SYS";
  EXPECT_EQ(Log(), "Driver file has not been found:  " + path +
                       "\r\n" + path +
                       "  converted from *.bak to *.sys file.\r\n");
  EXPECT_EQ(ReadFileBytes(drivers_ + L"\\restored.SYS"), "saved driver");
  EXPECT_FALSE(FileExists(drivers_ + L"\\restored.bak"));
  EXPECT_EQ(g_changesMade, 1);

  // Without an ImagePath only the first line is written.
  g_changesMade = 0;
  Service(L"plain", L"");
  WriteFileBytes(drivers_ + L"\\plain.bak", "saved driver");
  EXPECT_EQ(Check(L"plain"), 1);
  EXPECT_EQ(Log(),
            "No ImagePath and driver file into default image path not found "
            "for:  plain\r\n");
  EXPECT_TRUE(FileExists(drivers_ + L"\\plain.sys"));
  EXPECT_EQ(g_changesMade, 1);
}

TEST_F(DriverFileOnWindows, BakCopyHeldOpenGivesTheSharingCause) {
  Service(L"held", L"System32\\drivers\\held.sys");
  WriteFileBytes(drivers_ + L"\\held.bak", "saved driver");
  const OwnedHandle hold = HoldExclusively(drivers_ + L"\\held.bak");
  EXPECT_EQ(Check(L"held"), 0);
  EXPECT_EQ(Log(), "Driver file has not been found:  " + Narrow(windows_) +
                       "\\System32\\drivers\\held.sys\r\n" + Narrow(windows_) +
                       "\\System32\\drivers\\held.bak could not be converted, "
                       "cause :11\r\n");
  EXPECT_FALSE(FileExists(drivers_ + L"\\held.sys"));
  EXPECT_EQ(g_changesMade, 0);
}

}  // namespace
}  // namespace tarvox::wintest
