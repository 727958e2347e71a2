// The co-installer entry repaired by Tarvox.exe in a real registry, checked
// byte for byte; and the reboot notice the repair brings.
#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

using Entries = std::vector<std::wstring>;

class CoInstallerEndToEnd : public EndToEnd {
 protected:
  void SetUp() override {
    RegisterProductFolder();
    SeedQuietMachine();
  }
  void SeedEntries(const Entries& entries) {
    PutMultiSz(kCoInstallersKey, kCdromClassGuid, entries);
  }
  void DllPresent(const std::wstring& name) {
    WriteFileBytes(In(system32_, name), "MZ");
  }
  std::optional<RegValue> Stored() {
    return GetValue(kCoInstallersKey, kCdromClassGuid);
  }
  // A silent run that must end by itself with 0, log nothing and show
  // nothing.
  void RunSilently() {
    const TarvoxRun run = RunTarvox(L"-silent");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_TRUE(run.notices.empty());
    EXPECT_FALSE(FileExists(In(kProductFolder, L"Tarvox.log")));
    EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
  }
};

TEST_F(CoInstallerEndToEnd, MissingDllInAListOfThreeLeavesTheOtherTwo) {
  DllPresent(L"cdprop.dll");
  SeedEntries({L"cdprop.dll,CdPropPages", L"OrvaneCo.dll,OrvaneCoInstaller",
               L"tail.dll,Tail"});
  RunSilently();
  EXPECT_EQ(Stored(), (RegValue{REG_MULTI_SZ,
                                MultiSzBytes({L"cdprop.dll,CdPropPages",
                                              L"tail.dll,Tail"})}));
}

TEST_F(CoInstallerEndToEnd, ProductEntryAloneBecomesFourZeroBytes) {
  SeedEntries({L"OrvaneCo.dll,OrvaneCoInstaller"});
  RunSilently();
  EXPECT_EQ(Stored(), (RegValue{REG_MULTI_SZ, std::string(4, '\0')}));
}

TEST_F(CoInstallerEndToEnd, MarkerInOtherLetterCaseIsNotTheProducts) {
  const Entries entries = {L"orvaneco.dll,Install", L"ORVANECO.DLL,Install"};
  SeedEntries(entries);
  RunSilently();
  EXPECT_EQ(Stored(), (RegValue{REG_MULTI_SZ, MultiSzBytes(entries)}));
}

TEST_F(CoInstallerEndToEnd, FirstProductEntryPresentKeepsTheList) {
  DllPresent(L"OrvaneCo.dll");
  const Entries entries = {L"OrvaneCo.dll,OrvaneCoInstaller",
                           L"OrvaneCo64.dll,OrvaneCoInstaller"};
  SeedEntries(entries);
  RunSilently();
  EXPECT_EQ(Stored(), (RegValue{REG_MULTI_SZ, MultiSzBytes(entries)}));
}

TEST_F(CoInstallerEndToEnd, FourLetterExtensionIsLookedForCutAfterThree) {
  // Only the full name is there; the cut name "OrvaneCo.dll" is not.
  DllPresent(L"OrvaneCo.dllx");
  SeedEntries({L"OrvaneCo.dllx,OrvaneCoInstaller", L"tail.dll,Tail"});
  RunSilently();
  EXPECT_EQ(Stored(), (RegValue{REG_MULTI_SZ, MultiSzBytes({L"tail.dll,Tail"})}));

  // With the cut name present the entry stays.
  DllPresent(L"OrvaneCo.dll");
  const Entries entries = {L"OrvaneCo.dllx,OrvaneCoInstaller"};
  SeedEntries(entries);
  RunSilently();
  EXPECT_EQ(Stored(), (RegValue{REG_MULTI_SZ, MultiSzBytes(entries)}));
}

TEST_F(CoInstallerEndToEnd, MissingKeyIsLoggedAndTheRunGoesOn) {
  DeleteKeyTree(kCoInstallersKey);
  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")),
            "Could not open key :\r\n"
            "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers\r\n");
  EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
}

// The log of a run that logged something replaces the older log...
TEST_F(CoInstallerEndToEnd, LogWithLinesReplacesTheOlderLog) {
  DeleteKeyTree(kCoInstallersKey);
  WriteFileBytes(In(kProductFolder, L"Tarvox.log"), "older run\r\n");
  ASSERT_TRUE(RunTarvox(L"-silent").ended);
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")),
            "Could not open key :\r\n"
            "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers\r\n");
}

// ...unless the older log cannot be removed: the new lines stay beside it.
TEST_F(CoInstallerEndToEnd, ReadOnlyOlderLogLeavesTheTemporaryLogInPlace) {
  DeleteKeyTree(kCoInstallersKey);
  WriteFileBytes(In(kProductFolder, L"Tarvox.log"), "older run\r\n");
  MakeReadOnly(In(kProductFolder, L"Tarvox.log"));
  const TarvoxRun run = RunTarvox(L"-silent");
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")), "older run\r\n");
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"TarvoxTmp.log")),
            "Could not open key :\r\n"
            "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers\r\n");
}

TEST_F(CoInstallerEndToEnd, WithoutAProductFolderTheLogGoesToTheWindowsFolder) {
  DeleteKeyTree(kAppPathsKey);
  DeleteKeyTree(kCoInstallersKey);
  ASSERT_TRUE(RunTarvox(L"-silent").ended);
  EXPECT_TRUE(FileExists(In(windows_, L"Tarvox.log")));
  EXPECT_FALSE(FileExists(In(kProductFolder, L"Tarvox.log")));
}

// Every run below removes the product entry, so it changed the registry:
// the notice follows unless the command line is exactly the silent switch.
TEST_F(CoInstallerEndToEnd, OnlyTheSilentSwitchKeepsTheRebootNoticeAway) {
  const std::wstring exe = L"\"" + TarvoxExe() + L"\"";
  struct Case {
    std::wstring command_line;
    bool notice;
  };
  const Case cases[] = {
      {exe + L" -silent", false},
      {exe + L" -SILENT", false},
      {exe + L"  -silent", false},
      {exe + L"-silent", false},  // the closing quote ends the name
      {exe, true},
      {exe + L" -silent ", true},
      {exe + L" /silent", true},
      {exe + L" -silent -silent", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command_line.begin(), c.command_line.end()));
    SeedEntries({L"OrvaneCo.dll,OrvaneCoInstaller"});
    const TarvoxRun run = RunTarvoxExact(c.command_line);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(Stored(), (RegValue{REG_MULTI_SZ, std::string(4, '\0')}));
    if (!c.notice) {
      EXPECT_TRUE(run.notices.empty());
      continue;
    }
    ASSERT_EQ(run.notices.size(), 1u);
    EXPECT_EQ(run.notices[0].caption, L"Tarvox");
    EXPECT_EQ(run.notices[0].text,
              L"There was some errors in the registry. The Tarvox corrected "
              L"this.\n       System must be rebooted for changes to become "
              L"effective.");
  }
}

TEST_F(CoInstallerEndToEnd, NoChangeNoNotice) {
  DllPresent(L"OrvaneCo.dll");
  SeedEntries({L"OrvaneCo.dll,OrvaneCoInstaller"});
  const TarvoxRun run = RunTarvox(L"");
  ASSERT_TRUE(run.ended);
  EXPECT_TRUE(run.notices.empty());
}

}  // namespace
}  // namespace tarvox::wintest
