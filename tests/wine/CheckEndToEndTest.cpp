// TarvoxCheck.exe for real: on a broken machine it changes nothing and says
// what a repair will do, and Tarvox.exe then does exactly that; its exit
// codes are what a detection script needs.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <sstream>

#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

constexpr DWORD kCheckTimeoutMs = 30000;

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

// The JSON report is the check's own: one change to a line, its fields as
// "name": value. Reading a field back takes no more than this. Strings are
// unescaped; a number comes back as its text; a missing field is empty.
std::wstring Field(std::string_view line, std::string_view name) {
  std::string key = "\"";  // appended: GCC 12 misreads "a" + s + "b"
  key.append(name).append("\": ");
  const std::size_t at = line.find(key);
  if (at == std::string_view::npos) return {};
  std::string_view rest = line.substr(at + key.size());
  std::wstring value;
  if (rest.empty() || rest[0] != '"') {
    while (!rest.empty() && std::string_view(",}] ").find(rest[0]) == std::string_view::npos) {
      value += static_cast<wchar_t>(rest[0]);
      rest.remove_prefix(1);
    }
    return value;
  }
  for (std::size_t i = 1; i < rest.size() && rest[i] != '"'; ++i) {
    if (rest[i] == '\\' && ++i < rest.size() && rest[i] == 'u') {
      value += static_cast<wchar_t>(std::stoi(std::string(rest.substr(i + 1, 4)), nullptr, 16));
      i += 4;
      continue;
    }
    value += static_cast<wchar_t>(rest[i]);
  }
  return value;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// ASCII text as a JSON string: quoted, backslashes doubled.
std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return quoted + "\"";
}

// The lines of the report that are changes.
std::vector<std::string> ChangeLines(const std::string& report) {
  std::vector<std::string> lines;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("    {\"kind\": ")) lines.push_back(line);
  }
  return lines;
}

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
  // Every change a check foresaw, found on the machine after the repair.
  void ExpectMade(const std::vector<std::string>& changes) {
    for (const std::string& change : changes) {
      SCOPED_TRACE(change);
      const std::string kind = Narrow(Field(change, "kind"));
      const std::wstring key = Field(change, "key");
      const std::wstring name = Field(change, "name");
      const std::string data = Narrow(Field(change, "data"));
      if (kind == "setValue") {
        const auto value = GetValue(key, name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, static_cast<DWORD>(std::stoul(Field(change, "type"))));
        EXPECT_EQ(Hex(value->bytes), data);
      } else if (kind == "deleteValue") {
        EXPECT_FALSE(GetValue(key, name).has_value());
      } else if (kind == "createKey") {
        EXPECT_TRUE(KeyExists(key));
      } else if (kind == "setProperty" || kind == "clearProperty") {
        const auto property = DeviceProperty(Field(change, "device"),
                                             static_cast<DWORD>(std::stoul(Field(change, "property"))));
        if (kind == "clearProperty") {
          EXPECT_TRUE(!property || property->bytes.empty());  // Wine keeps it empty
        } else {
          ASSERT_TRUE(property.has_value());
          EXPECT_EQ(Hex(property->bytes), data);
        }
      } else if (kind == "renameFile") {
        EXPECT_FALSE(FileExists(Field(change, "from")));
        EXPECT_TRUE(FileExists(Field(change, "to")));
      } else {
        ADD_FAILURE() << "unknown change";
      }
    }
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
  EXPECT_EQ(Field(check.out, "exitCode"), L"1");
  EXPECT_FALSE(Field(check.out, "computer").empty());
  EXPECT_TRUE(Field(check.out, "time").ends_with(L"Z"));
  const std::vector<std::string> changes = ChangeLines(check.out);
  ASSERT_GE(changes.size(), 6u);

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
  ExpectMade(changes);
  // The lines it foresaw are the log's.
  const std::string log = ReadFileBytes(In(kProductFolder, L"Tarvox.log")).value_or("");
  ASSERT_FALSE(log.empty());
  EXPECT_NE(check.out.find("\"log\": [" + JsonString(log.substr(0, log.find('\r')))),
            std::string::npos);

  // A repaired machine has nothing left to repair.
  EXPECT_EQ(Check(L"").end.exit_code, 0u);
}

// Windows takes many spellings for one file, and another program may hold
// a file open: the check names files as Windows does and asks whether a
// copy can be moved, so what it foresees is what the repair does.
TEST_F(CheckEndToEnd, PredictionHoldsForOneFileSpelledTwoWaysAndACopyHeldOpen) {
  const auto with_image_path = [&](const std::wstring& name, const std::wstring& image) {
    Service(name, 3, false);
    PutString(kServicesKey + name, L"ImagePath", image);
  };
  // Two services name one file: its .bak copy, restored for the first, is
  // gone for the second.
  with_image_path(L"tvalA", L"System32\\drivers\\tvalias.sys");
  with_image_path(L"tvalB", L"System32\\drivers\\.\\tvalias.bak");
  WriteFileBytes(In(drivers_, L"tvalias.bak"), "MZ");
  // A driver gone whose copy a virus scanner holds open.
  Service(L"tvheld", 1, false);
  WriteFileBytes(In(drivers_, L"tvheld.bak"), "MZ");
  PutMultiSz(kClassKey, L"LowerFilters", {L"tvalA", L"tvalB", L"tvheld"});
  OwnedHandle scanner = HoldShared(In(drivers_, L"tvheld.bak"));

  const CheckRun check = Check(L"--json");
  EXPECT_EQ(check.end.exit_code, 1u);
  const std::vector<std::string> changes = ChangeLines(check.out);
  const TarvoxRun repair = RunTarvox(L"-silent");
  ASSERT_TRUE(repair.ended);
  ExpectMade(changes);
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), Multi({L"tvalA"}));
  EXPECT_EQ(std::count_if(changes.begin(), changes.end(),
                          [](const std::string& line) { return line.find("renameFile") != std::string::npos; }),
            1);
  // Every line the repair logged was foreseen, the held copy's cause 11 too.
  const std::string log = ReadFileBytes(In(kProductFolder, L"Tarvox.log")).value_or("");
  EXPECT_NE(log.find("tvheld.bak could not be converted, cause :11"), std::string::npos);
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    line.erase(line.find_last_not_of('\r') + 1);
    EXPECT_NE(check.out.find(JsonString(line)), std::string::npos) << line;
  }
}

TEST_F(CheckEndToEnd, ExitCodesForADetectionScript) {
  EXPECT_EQ(Check(L"").end.exit_code, 0u);
  EXPECT_EQ(Check(L"--help").end.exit_code, 0u);
  // A wrong argument is named, and still gives a result in the form asked
  // for.
  const CheckRun wrong = Check(L"/silent");
  EXPECT_EQ(wrong.end.exit_code, 2u);
  EXPECT_NE(wrong.err.find("TarvoxCheck: unknown argument: /silent\nUsage: TarvoxCheck.exe"),
            std::string::npos);
  EXPECT_TRUE(wrong.out.ends_with(
      "Result: the check could not be made (exit code 2): unknown argument: /silent.\n"));
  const CheckRun extra = Check(L"--JSON extra");
  EXPECT_EQ(extra.end.exit_code, 2u);
  EXPECT_EQ(Field(extra.out, "exitCode"), L"2");
  EXPECT_EQ(Field(extra.out, "reason"), L"unknown argument: extra");

  SeedBrokenMachine();
  EXPECT_EQ(Check(L"").end.exit_code, 1u);
  const CheckRun line = Check(L"--Json --SUMMARY");
  EXPECT_EQ(line.end.exit_code, 1u);
  EXPECT_EQ(line.out.find('\n'), line.out.size() - 1);
  EXPECT_EQ(Field(line.out, "namesLeaving"), L"3");
  // Too old a Windows: what a repair would log and do, and no list, since
  // none was looked at.
  PretendWindowsVersion(L"TarvoxCheck.exe", L"nt40");
  const CheckRun old = Check(L"--json");
  EXPECT_EQ(old.end.exit_code, 2u);
  EXPECT_EQ(Field(old.out, "major"), L"4");
  EXPECT_NE(old.out.find("\"log\": [\"Not supported platform\"]"), std::string::npos);
  EXPECT_NE(old.out.find("\"places\": null"), std::string::npos);
  // A repair under way: the check is not made, and says why.
  OwnedHandle repair_running(CreateMutexW(nullptr, TRUE, L"TarvoxAppSingleIstanceMutex"));
  ASSERT_TRUE(repair_running.valid());
  const CheckRun busy = Check(L"--json");
  EXPECT_EQ(busy.end.exit_code, 2u);
  EXPECT_NE(busy.err.find("a repair is running"), std::string::npos);
  EXPECT_EQ(Field(busy.out, "exitCode"), L"2");
}

}  // namespace
}  // namespace tarvox::wintest
