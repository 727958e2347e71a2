#include "TarvoxRunner.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <type_traits>

#include "WinTestSupport.h"

namespace tarvox::wintest {
namespace {

constexpr DWORD kRunTimeoutMs = 30000;

struct WindowSearch {
  DWORD process_id;
  HWND found;
};

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process_id && IsWindowVisible(window) &&
      ClassOf(window) == L"#32770") {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A message box's text is its static control with id 0xFFFF.
std::wstring MessageBoxText(HWND dialog) {
  HWND text = GetDlgItem(dialog, 0xFFFF);
  return text != nullptr ? WindowText(text) : std::wstring();
}

// A path of the build folder, as Wine's drive Z shows it.
std::wstring FromUnix(std::wstring path) {
  for (auto& unit : path) {
    if (unit == L'/') unit = L'\\';
  }
  return L"Z:" + path;
}

std::wstring ServiceRunnerExe() { return FromUnix(TARVOX_SERVICE_RUNNER_UNIX); }

}  // namespace

std::wstring TarvoxExe() { return FromUnix(TARVOX_EXE_UNIX); }

std::wstring CheckExe() {
  const std::wstring path = TarvoxExe();
  return path.substr(0, path.rfind(L'\\') + 1) + L"TarvoxCheck.exe";
}

std::wstring RestoreExe() {
  const std::wstring path = TarvoxExe();
  return path.substr(0, path.rfind(L'\\') + 1) + L"TarvoxRestore.exe";
}

void PretendWindowsVersion(const std::wstring& exe, const std::wstring& version) {
  PutString(L"Software\\Wine\\AppDefaults\\" + exe, L"Version", version, HKEY_CURRENT_USER);
}

std::string RunFromAService(const std::wstring& program) {
  using Service = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, decltype(&CloseServiceHandle)>;
  const std::wstring result = L"C:\\tarvox-service-result.txt";
  DeleteFileW(result.c_str());
  const Service manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS),
                        &CloseServiceHandle);
  if (!manager) return "no service manager, error " + std::to_string(GetLastError());
  const std::wstring command =
      L"\"" + ServiceRunnerExe() + L"\" \"" + result + L"\" \"" + program + L"\"";
  const Service service(
      CreateServiceW(manager.get(), L"TarvoxTestRunner", L"TarvoxTestRunner",
                     SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                     SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr, nullptr,
                     nullptr, nullptr),
      &CloseServiceHandle);
  if (!service) return "no service, error " + std::to_string(GetLastError());
  std::optional<std::string> ended;
  if (StartServiceW(service.get(), 0, nullptr)) {
    constexpr DWORD kPollMs = 100;
    for (DWORD waited = 0; waited < 2 * kRunTimeoutMs && !ended; waited += kPollMs) {
      Sleep(kPollMs);
      ended = ReadFileBytes(result);
    }
  }
  DeleteService(service.get());
  return ended.value_or("the service did not report");
}

TarvoxRun RunTarvox(const std::wstring& arguments) {
  return RunTarvoxExact(L"\"" + TarvoxExe() + L"\" " + arguments);
}

TarvoxRun RunTarvoxExact(const std::wstring& command_line) {
  TarvoxRun run;
  HWND answered = nullptr;
  const ProgramEnd end =
      RunProgram(command_line, kRunTimeoutMs, [&](DWORD process_id) {
        WindowSearch search{process_id, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr && search.found != answered) {
          run.notices.push_back(
              {WindowText(search.found), MessageBoxText(search.found)});
          PostMessageW(search.found, WM_COMMAND, IDOK, 0);
          answered = search.found;
        }
      });
  run.ended = end.ended;
  run.exit_code = end.exit_code;
  return run;
}

}  // namespace tarvox::wintest
