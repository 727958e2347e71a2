#include "TarvoxRunner.h"

#include <gtest/gtest.h>

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

}  // namespace

std::wstring TarvoxExe() {
  std::wstring path = L"Z:" TARVOX_EXE_UNIX;
  for (auto& unit : path) {
    if (unit == L'/') unit = L'\\';
  }
  return path;
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
