// The process side of the Win32 backend: the single-instance mutex, rights,
// the Windows version, the session, environment, command line, messages and
// the notice.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/win32/KernelObjects.h"
#include "platform/win32/WideText.h"

namespace tarvox {

using win32::FromWide;
using win32::Wide;

// --- Process ---------------------------------------------------------------------

Status Win32Platform::CreateNamedMutex(std::u16string_view name, bool* held_here) {
  *held_here = false;
  // The handles are deliberately never closed: holding them until the
  // process ends is what keeps a second instance out.
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, Wide(name).c_str());
  const Status error = GetLastError();
  if (mutex == nullptr) return error == ERROR_SUCCESS ? ERROR_INVALID_HANDLE : error;
  if (error != ERROR_ALREADY_EXISTS) {
    made_mutexes_.push_back(mutex);
    return ERROR_SUCCESS;
  }
  // One that cannot be compared counts as another's: a run kept out is
  // safer than two at once.
  for (void* made : made_mutexes_) {
    if (win32::SameKernelObject(made, mutex) == win32::kSameObject) *held_here = true;
  }
  return ERROR_ALREADY_EXISTS;
}

Status Win32Platform::FindNamedMutex(std::u16string_view name) {
  const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, Wide(name).c_str());
  if (mutex == nullptr) {
    const Status error = GetLastError();
    // Refused: it exists all the same.
    return error == ERROR_ACCESS_DENIED ? ERROR_SUCCESS : error;
  }
  CloseHandle(mutex);
  return ERROR_SUCCESS;
}

bool Win32Platform::IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  const BOOL asked = CheckTokenMembership(nullptr, administrators, &member);
  FreeSid(administrators);
  return asked && member;
}

WindowsVersion Win32Platform::OsVersion() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  // The result is not needed: a failed call leaves the version 0.0.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&version);
#pragma GCC diagnostic pop
  return {version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber};
}

std::u16string Win32Platform::ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(name, &length) ? FromWide(name, length) : std::u16string();
}

UtcTime Win32Platform::Now() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

bool Win32Platform::NoticeCanBeSeen() {
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  const HWINSTA station = GetProcessWindowStation();
  if (station == nullptr ||
      !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) ||
      (flags.dwFlags & WSF_VISIBLE) == 0) {
    return false;
  }
  // Since Windows Vista session 0 holds services only: its WinSta0 is
  // visible, but no user ever looks at it. ProcessIdToSessionId is looked up,
  // not imported: it is documented from Vista on, and the programs load on
  // Windows 5.2.
  if (OsVersion().major < 6) return true;
  using SessionOfProcess = BOOL(WINAPI*)(DWORD, DWORD*);
  static const auto session_of = reinterpret_cast<SessionOfProcess>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "ProcessIdToSessionId")));
  DWORD session = 0;
  return !(session_of != nullptr && session_of(GetCurrentProcessId(), &session) && session == 0);
}

std::optional<std::u16string> Win32Platform::ReadEnvironment(
    std::u16string_view name) {
  const std::wstring wide_name = Wide(name);
  std::wstring value(64, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(
        wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::u16string();
    }
    if (length < value.size()) return FromWide(value.data(), length);
    value.assign(length, L'\0');  // `length` counts the NUL here
  }
}

std::u16string Win32Platform::CommandLine() {
  const wchar_t* line = GetCommandLineW();
  return FromWide(line, wcslen(line));
}

std::u16string Win32Platform::ProgramBaseName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(),
                                            static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  std::wstring base = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const std::size_t dot = base.rfind(L'.');
  if (dot != std::wstring::npos) base.resize(dot);
  return FromWide(base.data(), base.size());
}

std::u16string Win32Platform::LoadMessage(std::uint32_t id) {
  // With a zero length LoadStringW hands out the resource text in place.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), id,
                                 reinterpret_cast<wchar_t*>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return FromWide(text, static_cast<std::size_t>(length));
}

void Win32Platform::ShowNotice(std::u16string_view text,
                               std::u16string_view caption,
                               std::uint32_t style) {
  MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), style);
}

}  // namespace tarvox
