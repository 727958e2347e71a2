// The product's co-installer entry, judged by its DLL in the system folder.
#include "repair/CoInstaller.h"
#include "services/Verdict.h"
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

constexpr std::u16string_view kKey = kCoDeviceInstallersKey;
constexpr std::u16string_view kValue = kCdromClassGuid;
using Entries = std::vector<std::u16string>;

class CoInstallerTest : public RunTest {
 protected:
  CoInstallerTest() {
    g_systemRoot = u"C:\\windows";
    OpenRunLog(machine_);
  }
  void DllPresent(std::u16string_view name) {
    machine_.AddFile(u"C:\\windows\\system32\\" + std::u16string(name), "MZ");
  }
  std::string Stored() const {
    const auto value = machine_.GetValue(kKey, kValue);
    return value ? value->bytes : "(none)";
  }
  static std::string MultiSzBytes(const Entries& entries) {
    MemoryPlatform scratch;
    scratch.PutMultiSz(u"X", u"v", entries);
    return scratch.GetValue(u"X", u"v")->bytes;
  }
  std::string Log() {
    RunLog.Close();
    return machine_.FileBytes(u"C:\\windows\\TarvoxTmp.log").value_or("");
  }
};

TEST_F(CoInstallerTest, JudgesTheFirstProductEntryByItsDll) {
  struct Case {
    const char* what;
    Entries before;
    std::vector<std::u16string_view> dlls;  // present in system32
    int result;
    Entries after;  // empty: the value must be 4 zero bytes
    int changed;
  };
  const Entries three = {u"cdprop.dll,PropPages", u"OrvaneCo.dll,CoInstall",
                         u"other.dll,Entry"};
  const Case cases[] = {
      {"DLL missing in a list of three", three, {}, 0,
       {u"cdprop.dll,PropPages", u"other.dll,Entry"}, 1},
      {"DLL present", three, {u"OrvaneCo.dll"}, 1, three, 0},
      {"DLL name in other case", three, {u"ORVANECO.DLL"}, 1, three, 0},
      {"the marker in other letter case is not ours",
       {u"orvaneco.dll,CoInstall"}, {}, 0, {u"orvaneco.dll,CoInstall"}, 0},
      {"first product entry present decides",
       {u"OrvaneCo.dll,A", u"OrvaneCo2.dll,B"}, {u"OrvaneCo.dll"}, 1,
       {u"OrvaneCo.dll,A", u"OrvaneCo2.dll,B"}, 0},
      {"only entries equal to the first go",
       {u"OrvaneCo.dll,A", u"x.dll,X", u"ORVANECO.DLL,a", u"OrvaneCo2.dll,B"},
       {u"OrvaneCo2.dll"}, 0, {u"x.dll,X", u"OrvaneCo2.dll,B"}, 1},
      {"four-letter extension is cut after three", {u"OrvaneCo.dllx,E"},
       {u"OrvaneCo.dll"}, 1, {u"OrvaneCo.dllx,E"}, 0},
      {"four-letter extension, only the long name present",
       {u"a.dll,A", u"OrvaneCo.dllx,E"}, {u"OrvaneCo.dllx"}, 0, {u"a.dll,A"}, 1},
      {"cut three units after the first dot", {u"OrvaneCo.v2.dll,E"},
       {u"OrvaneCo.v2."}, 1, {u"OrvaneCo.v2.dll,E"}, 0},
      {"DLL name alone", {u"OrvaneCo.dll"}, {u"OrvaneCo.dll"}, 1,
       {u"OrvaneCo.dll"}, 0},
      {"marker in the entry point names the DLL before it",
       {u"helper.dll,OrvaneCoInstall"}, {u"helper.dll"}, 1,
       {u"helper.dll,OrvaneCoInstall"}, 0},
      {"no dot", {u"OrvaneCo,Entry"}, {}, 0, {u"OrvaneCo,Entry"}, 0},
      {"wildcards name no file", {u"OrvaneCo*.dll,E"}, {u"OrvaneCo1.dll"}, 0,
       {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform fresh;
    fresh.PutMultiSz(kKey, kValue, c.before);
    for (const auto dll : c.dlls) {
      fresh.AddFile(u"C:\\windows\\system32\\" + std::u16string(dll), "MZ");
    }
    g_systemRoot = u"C:\\windows";
    EXPECT_EQ(CheckCoInstallerAlone(fresh), c.result);
    EXPECT_EQ(fresh.GetValue(kKey, kValue)->bytes,
              c.after.empty() ? std::string(4, '\0') : MultiSzBytes(c.after));
    EXPECT_EQ(fresh.GetValue(kKey, kValue)->type, win::kRegMultiSz);
    EXPECT_EQ(g_changesMade, c.changed);
  }
}

TEST_F(CoInstallerTest, ProductEntryAloneLeavesFourZeroBytes) {
  machine_.PutMultiSz(kKey, kValue, {u"OrvaneCo.dll,CoInstall"});
  EXPECT_EQ(CheckCoInstallerAlone(machine_), 0);
  EXPECT_EQ(Stored(), std::string(4, '\0'));
  EXPECT_EQ(g_changesMade, 1);
  EXPECT_EQ(Log(), "");
}

TEST_F(CoInstallerTest, KeyThatCannotBeOpenedIsLoggedWithItsPath) {
  const std::string expected =
      "Could not open key :\r\n"
      "SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers\r\n";
  EXPECT_EQ(CheckCoInstallerAlone(machine_), 0);
  EXPECT_EQ(Log(), expected);

  ResetRunState();
  g_systemRoot = u"C:\\windows";
  machine_.PutMultiSz(kKey, kValue, {u"OrvaneCo.dll,CoInstall"});
  machine_.DenyAccess(kKey, win::kKeySetValue);
  OpenRunLog(machine_);
  EXPECT_EQ(CheckCoInstallerAlone(machine_), 0);
  EXPECT_EQ(Log(), expected + expected);  // after the first run's lines
  EXPECT_EQ(g_changesMade, 0);
}

// A DLL that cannot be looked for may well be there: the entry stays.
TEST_F(CoInstallerTest, DllThatCannotBeLookedForKeepsTheEntry) {
  struct Case {
    const char* what;
    std::u16string windows_folder;
    Status unseen;  // what looking at system32 answers; 0: it answers
  };
  const Case cases[] = {
      {"no Windows folder: not the root of whatever drive is current", u"", 0},
      {"system32 refuses the look", u"C:\\windows", win::kAccessDenied},
      {"a device that is not ready", u"C:\\windows", win::kNotReady},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetRunState();
    MemoryPlatform fresh;
    fresh.PutMultiSz(kKey, kValue, {u"OrvaneCo.dll,CoInstall"});
    fresh.AddFile(u"C:\\system32\\other.dll", "MZ");  // the root's, not ours
    if (c.unseen != 0) fresh.MakeUnreachable(u"C:\\windows\\system32", c.unseen);
    g_systemRoot = c.windows_folder;
    EXPECT_EQ(CheckCoInstallerAlone(fresh), kCannotTell);
    EXPECT_EQ(fresh.GetValue(kKey, kValue)->bytes, MultiSzBytes({u"OrvaneCo.dll,CoInstall"}));
    EXPECT_EQ(g_changesMade, 0);
  }
}

TEST_F(CoInstallerTest, ValueThatCannotBeReadIsPassedOver) {
  machine_.PutKey(kKey);
  EXPECT_EQ(CheckCoInstallerAlone(machine_), 0);  // missing
  EXPECT_FALSE(machine_.GetValue(kKey, kValue).has_value());

  // 2050 bytes: larger than the buffer, although a product entry leads it.
  std::u16string units = u"OrvaneCo.dll,E";
  units.resize(1025, u'p');
  const std::string big(reinterpret_cast<const char*>(units.data()), 2050);
  machine_.PutValue(kKey, kValue, win::kRegMultiSz, big);
  EXPECT_EQ(CheckCoInstallerAlone(machine_), 0);
  EXPECT_EQ(Stored(), big);
  EXPECT_EQ(g_changesMade, 0);
  EXPECT_EQ(Log(), "");
}

TEST_F(CoInstallerTest, FullValueWithoutTerminatorsStaysInsideTheBuffer) {
  std::u16string units = u"a.dll,A";
  units += u'\0';
  units += u"OrvaneCo.dll,";
  units.resize(1024, u'p');  // 2048 bytes, the last entry never ends
  machine_.PutValue(kKey, kValue, win::kRegMultiSz,
                    std::string(reinterpret_cast<const char*>(units.data()),
                                2048));
  EXPECT_EQ(CheckCoInstallerAlone(machine_), 0);
  EXPECT_EQ(Stored(), MultiSzBytes({u"a.dll,A"}));
}

TEST_F(CoInstallerTest, SingleStringValueIsReadAsAOneEntryList) {
  machine_.PutString(kKey, kValue, u"OrvaneCo.dll,CoInstall");
  EXPECT_EQ(CheckCoInstallerAlone(machine_), 0);
  EXPECT_EQ(Stored(), std::string(4, '\0'));
  EXPECT_EQ(machine_.GetValue(kKey, kValue)->type, win::kRegMultiSz);
}

TEST_F(CoInstallerTest, WriteThatFailsAsksForNoReboot) {
  machine_.PutMultiSz(kKey, kValue, {u"OrvaneCo.dll,CoInstall"});
  machine_.FailWrites(kKey, 1018);  // ERROR_KEY_DELETED
  EXPECT_EQ(CheckCoInstallerAlone(machine_), 0);
  EXPECT_EQ(g_changesMade, 0);
}

}  // namespace
}  // namespace tarvox::testing
