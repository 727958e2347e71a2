// service_runner.exe RESULT PROGRAM
// A Windows service that starts one program, as a deployment agent or a
// scheduled task does, and writes to the file RESULT how it ended:
// "exit <code>" when it ended by itself within 30 s, else "still running"
// (it is then ended). A service's window station is one nobody sees, and the
// program it starts shares it.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kWaitMs = 30000;
wchar_t g_service_name[] = L"TarvoxTestRunner";
SERVICE_STATUS_HANDLE g_status = nullptr;
std::wstring g_result;
std::wstring g_program;

void Report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD, DWORD, void*, void*) { return NO_ERROR; }

void WriteResult(const std::string& text) {
  const HANDLE file = CreateFileW(g_result.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string RunProgram() {
  // Windows puts a process on its window station when it starts; Wine when
  // it first asks. Asking here puts the program where Windows would.
  GetProcessWindowStation();
  std::wstring line = L"\"" + g_program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return "not started, error " + std::to_string(GetLastError());
  }
  std::string result = "still running";
  if (WaitForSingleObject(process.hProcess, kWaitMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result = "exit " + std::to_string(code);
  } else {
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_status = RegisterServiceCtrlHandlerExW(g_service_name, Control, nullptr);
  Report(SERVICE_RUNNING);
  WriteResult(RunProgram());
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  g_result = argv[1];
  g_program = argv[2];
  SERVICE_TABLE_ENTRYW services[] = {{g_service_name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(services) ? 0 : 1;
}
