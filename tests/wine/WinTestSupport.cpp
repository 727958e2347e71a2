#include "WinTestSupport.h"

#include <setupapi.h>

#include <gtest/gtest.h>

namespace tarvox::wintest {

std::wstring Wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()),
                      text.size());
}

std::u16string Utf16(std::wstring_view text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()),
                        text.size());
}

std::string WideBytes(std::wstring_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()),
                     text.size() * sizeof(wchar_t));
}

std::string MultiSzBytes(const std::vector<std::wstring>& entries) {
  std::wstring units;
  for (const auto& entry : entries) {
    units += entry;
    units += L'\0';
  }
  units += L'\0';
  return WideBytes(units);
}

void PutValue(const std::wstring& key, const std::wstring& name, DWORD type,
              const std::string& bytes, HKEY root) {
  HKEY handle = nullptr;
  LONG result = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE, nullptr, &handle, nullptr);
  ASSERT_EQ(result, ERROR_SUCCESS) << "create key";
  // A non-zero unit after the data keeps RegSetValueExW from adding a NUL
  // to string data that has none: the bytes are stored as given.
  std::string padded = bytes;
  padded.append("\xff\xff", 2);
  result = RegSetValueExW(handle, name.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(padded.data()),
                          static_cast<DWORD>(bytes.size()));
  RegCloseKey(handle);
  ASSERT_EQ(result, ERROR_SUCCESS) << "set value";
}

void PutString(const std::wstring& key, const std::wstring& name,
               const std::wstring& text, HKEY root) {
  PutValue(key, name, REG_SZ, WideBytes(std::wstring(text) + L'\0'), root);
}

void PutMultiSz(const std::wstring& key, const std::wstring& name,
                const std::vector<std::wstring>& entries) {
  PutValue(key, name, REG_MULTI_SZ, MultiSzBytes(entries));
}

void PutKey(const std::wstring& key) {
  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                            KEY_READ, nullptr, &handle, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(handle);
}

std::optional<RegValue> GetValue(const std::wstring& key,
                                 const std::wstring& name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE,
                    &handle) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  RegValue value;
  DWORD size = 0;
  LONG result = RegQueryValueExW(handle, name.c_str(), nullptr, &value.type,
                                 nullptr, &size);
  if (result == ERROR_SUCCESS) {
    value.bytes.assign(size, '\0');
    result = RegQueryValueExW(handle, name.c_str(), nullptr, &value.type,
                              reinterpret_cast<BYTE*>(value.bytes.data()),
                              &size);
    value.bytes.resize(size);
  }
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS) return std::nullopt;
  return value;
}

bool KeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE,
                    &handle) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

void DeleteKeyTree(const std::wstring& key) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
}

void DenyKeyAccess(const std::wstring& key, DWORD access) {
  HKEY handle = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, WRITE_DAC,
                          &handle),
            ERROR_SUCCESS);
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0,
                                       0, 0, 0, 0, &everyone));
  const DWORD acl_size =
      sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(everyone));
  std::vector<BYTE> acl_bytes(acl_size);
  ACL* acl = reinterpret_cast<ACL*>(acl_bytes.data());
  InitializeAcl(acl, acl_size, ACL_REVISION);
  AddAccessDeniedAce(acl, ACL_REVISION, access, everyone);
  AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone);
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
  const LONG result =
      RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, &descriptor);
  RegCloseKey(handle);
  FreeSid(everyone);
  ASSERT_EQ(result, ERROR_SUCCESS) << "RegSetKeySecurity";
}

void AddCdromDevice(const std::wstring& instance_id) {
  PutString(L"SYSTEM\\CurrentControlSet\\Enum\\" + instance_id, L"ClassGUID",
            L"{4D36E965-E325-11CE-BFC1-08002BE10318}");
}

std::optional<RegValue> DeviceProperty(const std::wstring& instance_id,
                                       DWORD property) {
  static const GUID kCdromClass = {
      0x4d36e965, 0xe325, 0x11ce,
      {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  const HDEVINFO set = SetupDiGetClassDevsW(&kCdromClass, nullptr, nullptr, 0);
  if (set == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "no device set";
    return std::nullopt;
  }
  std::optional<RegValue> found;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    wchar_t id[512] = {};
    if (!SetupDiGetDeviceInstanceIdW(set, &device, id, 512, nullptr) ||
        _wcsicmp(id, instance_id.c_str()) != 0) {
      continue;
    }
    RegValue value;
    std::string bytes(4096, '\0');
    DWORD size = 0;
    if (SetupDiGetDeviceRegistryPropertyW(
            set, &device, property, &value.type,
            reinterpret_cast<BYTE*>(bytes.data()),
            static_cast<DWORD>(bytes.size()), &size)) {
      value.bytes = bytes.substr(0, size);
      found = value;
    }
    break;
  }
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

std::wstring WindowsFolder() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"SystemRoot", buffer, MAX_PATH);
  return std::wstring(buffer, length < MAX_PATH ? length : 0);
}

void MakeFolders(const std::wstring& path) {
  for (std::size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
    CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    if (at == std::wstring::npos) break;
  }
  ASSERT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES)
      << "could not make folder";
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  OwnedHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid()) << "create file, error " << GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), bytes.data(),
                        static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
  OwnedHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.append(chunk, got);
  }
  return bytes;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void MakeReadOnly(const std::wstring& path) {
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
}

OwnedHandle::~OwnedHandle() {
  if (valid()) CloseHandle(handle_);
}

OwnedHandle::OwnedHandle(OwnedHandle&& other) noexcept
    : handle_(other.handle_) {
  other.handle_ = INVALID_HANDLE_VALUE;
}

OwnedHandle& OwnedHandle::operator=(OwnedHandle&& other) noexcept {
  if (this != &other) {
    if (valid()) CloseHandle(handle_);
    handle_ = other.handle_;
    other.handle_ = INVALID_HANDLE_VALUE;
  }
  return *this;
}

OwnedHandle HoldExclusively(const std::wstring& path) {
  OwnedHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
  EXPECT_TRUE(file.valid()) << "hold file, error " << GetLastError();
  return file;
}

OwnedHandle HoldShared(const std::wstring& path) {
  OwnedHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  EXPECT_TRUE(file.valid()) << "view file, error " << GetLastError();
  return file;
}

OwnedHandle LinkSessionNameToGlobal(const std::wstring& name) {
  // NtCreateSymbolicLinkObject is not in the import libraries' headers; its
  // arguments are a UNICODE_STRING name inside OBJECT_ATTRIBUTES, and one
  // for the target.
  struct CountedText {
    USHORT length;
    USHORT maximum;
    const wchar_t* text;
  };
  struct ObjectAttributes {
    ULONG length;
    HANDLE root;
    CountedText* name;
    ULONG attributes;
    void* descriptor;
    void* quality;
  };
  using CreateLink = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, ObjectAttributes*, CountedText*);
  const auto create = reinterpret_cast<CreateLink>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateSymbolicLinkObject")));
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  const std::wstring link =
      L"\\Sessions\\" + std::to_wstring(session) + L"\\BaseNamedObjects\\" + name;
  const std::wstring target = L"\\BaseNamedObjects\\" + name;
  const auto counted = [](const std::wstring& text) {
    const auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    return CountedText{bytes, bytes, text.c_str()};
  };
  CountedText link_name = counted(link);
  CountedText target_name = counted(target);
  ObjectAttributes attributes{sizeof attributes, nullptr, &link_name, 0, nullptr, nullptr};
  constexpr ACCESS_MASK kAllAccess = 0xF0001;  // SYMBOLIC_LINK_ALL_ACCESS
  HANDLE handle = nullptr;
  const LONG status =
      create == nullptr ? -1 : create(&handle, kAllAccess, &attributes, &target_name);
  EXPECT_GE(status, 0) << "symbolic link " << std::string(link.begin(), link.end());
  return OwnedHandle(status >= 0 ? handle : INVALID_HANDLE_VALUE);
}

ProgramEnd RunProgram(const std::wstring& command_line, DWORD timeout_ms,
                      const std::function<void(DWORD)>& while_running) {
  constexpr DWORD kPollMs = 50;
  std::wstring line = command_line;  // CreateProcessW may write into it
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed, error " << GetLastError();
    return {};
  }
  OwnedHandle thread(process.hThread);
  OwnedHandle owned(process.hProcess);
  ProgramEnd end;
  for (DWORD waited = 0; waited < timeout_ms; waited += kPollMs) {
    if (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) {
      end.ended = true;
      GetExitCodeProcess(process.hProcess, &end.exit_code);
      return end;
    }
    if (while_running) while_running(process.dwProcessId);
  }
  TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(process.hProcess, 5000);
  return end;
}

ProgramEnd RunConsoleProgram(const std::wstring& command_line, DWORD timeout_ms,
                             std::string* out, std::string* err) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const auto open = [&](const wchar_t* path) {
    return OwnedHandle(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  };
  const std::wstring out_path = L"C:\\tarvox-stdout.txt";
  const std::wstring err_path = L"C:\\tarvox-stderr.txt";
  ProgramEnd end;
  {
    OwnedHandle out_file = open(out_path.c_str());
    OwnedHandle err_file = open(err_path.c_str());
    std::wstring line = command_line;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = out_file.get();
    startup.hStdError = err_file.get();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
      ADD_FAILURE() << "CreateProcessW failed, error " << GetLastError();
      return {};
    }
    OwnedHandle thread(process.hThread);
    OwnedHandle owned(process.hProcess);
    if (WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
      end.ended = true;
      GetExitCodeProcess(process.hProcess, &end.exit_code);
    } else {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 5000);
    }
  }
  *out = ReadFileBytes(out_path).value_or("");
  *err = ReadFileBytes(err_path).value_or("");
  DeleteFileW(out_path.c_str());
  DeleteFileW(err_path.c_str());
  return end;
}

}  // namespace tarvox::wintest
