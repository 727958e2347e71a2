// TarvoxCheck.exe for real: on a broken machine it changes nothing and says
// what a repair will do, and Tarvox.exe then does exactly that; its exit
// codes are what a detection script needs.
#include <windows.h>
#include <setupapi.h>

#include "wine/EndToEndFixture.h"
#include "wine/MiniJson.h"

namespace tarvox::wintest {
namespace {

constexpr DWORD kCheckTimeoutMs = 30000;

std::wstring CheckExe() {
  std::wstring path = TarvoxExe();
  return path.substr(0, path.rfind(L'\\') + 1) + L"TarvoxCheck.exe";
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

class CheckEndToEnd : public EndToEnd {
 protected:
  void SetUp() override {
    RegisterProductFolder();
    SeedQuietMachine();
    Service(L"tvgood", 1);
    Service(L"tvoff", 4);
    Service(L"tvbak", 1, false);
    WriteFileBytes(In(drivers_, L"tvbak.bak"), "MZ");
  }
  void SeedBrokenMachine() {
    PutMultiSz(kClassKey, L"UpperFilters", {L"tvgood", L"tvgone"});
    PutMultiSz(kClassKey, L"LowerFilters", {L"tvbak"});
    PutMultiSz(kCoInstallersKey, kCdromClassGuid, {L"cdprop.dll,Pages", L"OrvaneCo.dll,Install"});
    AddCdromDevice(L"ROOT\\CDROM\\0000");
    PutMultiSz(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000", L"LowerFilters",
               {L"tvoff", L"tvgood"});
    PutMultiSz(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000", L"UpperFilters",
               {L"tvgone"});
  }
  struct CheckRun {
    ProgramEnd end;
    std::string out;
    std::string err;
  };
  CheckRun Check(const std::wstring& arguments) {
    CheckRun run;
    run.end = RunConsoleProgram(L"\"" + CheckExe() + L"\" " + arguments, kCheckTimeoutMs,
                                &run.out, &run.err);
    EXPECT_TRUE(run.end.ended);
    return run;
  }
};

TEST_F(CheckEndToEnd, PredictionIsWhatTheRepairDoes) {
  SeedBrokenMachine();
  const CheckRun check = Check(L"--json");
  EXPECT_EQ(check.end.exit_code, 1u);
  const json::Value report = json::Parse(check.out);
  ASSERT_EQ(report["exitCode"].number, 1);
  const json::Value& changes = report["changes"];
  ASSERT_GE(changes.items.size(), 6u);

  // Nothing changed yet.
  EXPECT_EQ(GetValue(kClassKey, L"UpperFilters"), Multi({L"tvgood", L"tvgone"}));
  EXPECT_FALSE(GetValue(kClassKey, L"UpperFilters_1").has_value());
  EXPECT_FALSE(KeyExists(L"SOFTWARE\\Kestrow\\OrvaneTarvox"));
  EXPECT_TRUE(FileExists(In(drivers_, L"tvbak.bak")));
  EXPECT_FALSE(FileExists(In(kProductFolder, L"TarvoxTmp.log")));
  EXPECT_FALSE(FileExists(In(kProductFolder, L"Tarvox.log")));

  const TarvoxRun repair = RunTarvox(L"-silent");
  ASSERT_TRUE(repair.ended);
  EXPECT_EQ(repair.exit_code, 0u);
  for (const json::Value& change : changes.items) {
    const std::string kind = Narrow(change["kind"].text);
    const std::wstring key(change["key"].text.begin(), change["key"].text.end());
    const std::wstring name(change["name"].text.begin(), change["name"].text.end());
    SCOPED_TRACE(kind + " " + Narrow(change["key"].text) + Narrow(change["device"].text) +
                 " " + Narrow(change["name"].text));
    if (kind == "setValue") {
      const auto value = GetValue(key, name);
      ASSERT_TRUE(value.has_value());
      EXPECT_EQ(value->type, static_cast<DWORD>(change["type"].number));
      EXPECT_EQ(Hex(value->bytes), Narrow(change["data"].text));
    } else if (kind == "deleteValue") {
      EXPECT_FALSE(GetValue(key, name).has_value());
    } else if (kind == "createKey") {
      EXPECT_TRUE(KeyExists(key));
    } else if (kind == "setProperty" || kind == "clearProperty") {
      const std::wstring device(change["device"].text.begin(), change["device"].text.end());
      const auto property = DeviceProperty(device, static_cast<DWORD>(change["property"].number));
      if (kind == "clearProperty") {
        EXPECT_TRUE(!property || property->bytes.empty());  // Wine keeps it empty
      } else {
        ASSERT_TRUE(property.has_value());
        EXPECT_EQ(Hex(property->bytes), Narrow(change["data"].text));
      }
    } else if (kind == "renameFile") {
      const std::wstring from(change["from"].text.begin(), change["from"].text.end());
      const std::wstring to(change["to"].text.begin(), change["to"].text.end());
      EXPECT_FALSE(FileExists(from));
      EXPECT_TRUE(FileExists(to));
    } else {
      ADD_FAILURE() << "unknown change";
    }
  }
  // The lines it foresaw are the log's.
  std::string lines;
  for (const auto& line : report["log"].items) lines += Narrow(line.text) + "\r\n";
  EXPECT_EQ(ReadFileBytes(In(kProductFolder, L"Tarvox.log")), lines);

  // A repaired machine has nothing left to repair.
  EXPECT_EQ(Check(L"").end.exit_code, 0u);
}

TEST_F(CheckEndToEnd, ExitCodesForADetectionScript) {
  EXPECT_EQ(Check(L"").end.exit_code, 0u);
  EXPECT_EQ(Check(L"--help").end.exit_code, 0u);
  const CheckRun wrong = Check(L"/silent");
  EXPECT_EQ(wrong.end.exit_code, 2u);
  EXPECT_NE(wrong.err.find("Usage: TarvoxCheck.exe"), std::string::npos);

  SeedBrokenMachine();
  EXPECT_EQ(Check(L"").end.exit_code, 1u);
  // A repair under way: the check is not made, and says why.
  OwnedHandle repair_running(CreateMutexW(nullptr, TRUE, L"TarvoxAppSingleIstanceMutex"));
  ASSERT_TRUE(repair_running.valid());
  const CheckRun busy = Check(L"--json");
  EXPECT_EQ(busy.end.exit_code, 2u);
  EXPECT_NE(busy.err.find("a repair is running"), std::string::npos);
  EXPECT_EQ(json::Parse(busy.out)["exitCode"].number, 2);
}

}  // namespace
}  // namespace tarvox::wintest
