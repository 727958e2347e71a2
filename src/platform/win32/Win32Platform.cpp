#include "platform/win32/Win32Platform.h"

#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/win32/KernelObjects.h"
#include "platform/win32/WideText.h"

static_assert(sizeof(OSVERSIONINFOW) == 276);

namespace tarvox {

using win32::FromWide;
using win32::Wide;

namespace {

// {4D36E965-E325-11CE-BFC1-08002BE10318}, the CD-ROM setup class.
constexpr GUID kCdromClass = {
    0x4d36e965, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::u16string Utf16Of(const std::wstring& text) { return FromWide(text.data(), text.size()); }

HKEY AsKey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }
HDEVINFO AsDeviceSet(DeviceSetHandle set) {
  return reinterpret_cast<HDEVINFO>(set);
}
HANDLE AsFile(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

Status LastErrorUnless(BOOL ok) { return ok ? ERROR_SUCCESS : GetLastError(); }

// The device record at `index` of the set, or false when there is none.
bool DeviceRecord(DeviceSetHandle set, std::uint32_t index,
                  SP_DEVINFO_DATA* record) {
  *record = {};
  record->cbSize = sizeof *record;
  return SetupDiEnumDeviceInfo(AsDeviceSet(set), index, record) != FALSE;
}

}  // namespace

// --- Registry -------------------------------------------------------------------

Status Win32Platform::OpenKey(std::u16string_view path, std::uint32_t access,
                              KeyHandle* key) {
  HKEY opened = nullptr;
  const LONG result =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, access, &opened);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<KeyHandle>(opened);
  return static_cast<Status>(result);
}

Status Win32Platform::CreateKey(std::u16string_view path, std::uint32_t access,
                                KeyHandle* key, bool* created) {
  HKEY opened = nullptr;
  DWORD disposition = 0;
  const LONG result =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, nullptr, 0,
                      access, nullptr, &opened, &disposition);
  if (result == ERROR_SUCCESS) *key = reinterpret_cast<KeyHandle>(opened);
  if (created != nullptr) *created = result == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
  return static_cast<Status>(result);
}

Status Win32Platform::QueryValue(KeyHandle key, std::u16string_view name,
                                 std::uint32_t* type, void* data,
                                 std::uint32_t* size) {
  DWORD value_type = 0;
  DWORD byte_count = size != nullptr ? *size : 0;
  const LONG result = RegQueryValueExW(
      AsKey(key), Wide(name).c_str(), nullptr,
      type != nullptr ? &value_type : nullptr, static_cast<BYTE*>(data),
      size != nullptr ? &byte_count : nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    if (type != nullptr) *type = value_type;
    if (size != nullptr) *size = byte_count;
  }
  return static_cast<Status>(result);
}

Status Win32Platform::SetValue(KeyHandle key, std::u16string_view name,
                               std::uint32_t type, const void* data,
                               std::uint32_t size) {
  return static_cast<Status>(RegSetValueExW(AsKey(key), Wide(name).c_str(), 0,
                                            type, static_cast<const BYTE*>(data),
                                            size));
}

Status Win32Platform::DeleteValue(KeyHandle key, std::u16string_view name) {
  return static_cast<Status>(RegDeleteValueW(AsKey(key), Wide(name).c_str()));
}

Status Win32Platform::EnumKey(KeyHandle key, std::uint32_t index,
                              char16_t* name, std::uint32_t* length) {
  DWORD units = *length;
  const LONG result =
      RegEnumKeyExW(AsKey(key), index, reinterpret_cast<wchar_t*>(name),
                    &units, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) *length = units;
  return static_cast<Status>(result);
}

Status Win32Platform::EnumValue(KeyHandle key, std::uint32_t index,
                                char16_t* name, std::uint32_t* length) {
  DWORD units = *length;
  const LONG result =
      RegEnumValueW(AsKey(key), index, reinterpret_cast<wchar_t*>(name),
                    &units, nullptr, nullptr, nullptr, nullptr);
  if (result == ERROR_SUCCESS) *length = units;
  return static_cast<Status>(result);
}

Status Win32Platform::KeyName(KeyHandle key, std::u16string* name) {
  // NtQueryKey with KeyNameInformation gives the key's whole path
  // ("\REGISTRY\MACHINE\...\Name") as stored; it needs no access right. It is
  // looked up at run time: the program imports nothing from ntdll.
  using NtQueryKeyFunction = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  constexpr int kKeyNameInformation = 3;
  static const auto query = reinterpret_cast<NtQueryKeyFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
  if (query == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  std::wstring buffer(512, L'\0');
  for (;;) {
    ULONG needed = 0;
    const ULONG bytes = static_cast<ULONG>(buffer.size() * sizeof(wchar_t));
    const LONG status = query(AsKey(key), kKeyNameInformation, buffer.data(), bytes, &needed);
    if (status >= 0) break;
    // STATUS_BUFFER_OVERFLOW, STATUS_BUFFER_TOO_SMALL: ask again with room.
    constexpr LONG kBufferOverflow = static_cast<LONG>(0x80000005);
    constexpr LONG kBufferTooSmall = static_cast<LONG>(0xC0000023);
    if ((status != kBufferOverflow && status != kBufferTooSmall) || needed <= bytes) {
      return ERROR_INVALID_DATA;
    }
    buffer.assign(needed / sizeof(wchar_t) + 1, L'\0');
  }
  ULONG length = 0;  // in bytes, the first field
  std::memcpy(&length, buffer.data(), sizeof length);
  const std::size_t units = std::min<std::size_t>(
      length / sizeof(wchar_t), buffer.size() - sizeof length / sizeof(wchar_t));
  const std::wstring_view path(buffer.data() + sizeof length / sizeof(wchar_t), units);
  const std::size_t slash = path.rfind(L'\\');
  const std::wstring_view last = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
  *name = FromWide(last.data(), last.size());
  return ERROR_SUCCESS;
}

void Win32Platform::CloseKey(KeyHandle key) { RegCloseKey(AsKey(key)); }

// --- Devices -------------------------------------------------------------------

DeviceSetHandle Win32Platform::OpenCdromDevices() {
  const HDEVINFO set = SetupDiGetClassDevsW(&kCdromClass, nullptr, nullptr, 0);
  if (set == INVALID_HANDLE_VALUE) return kNoDeviceSet;
  return reinterpret_cast<DeviceSetHandle>(set);
}

bool Win32Platform::EnumDevice(DeviceSetHandle set, std::uint32_t index) {
  SP_DEVINFO_DATA record;
  return DeviceRecord(set, index, &record);
}

Status Win32Platform::GetDeviceProperty(DeviceSetHandle set,
                                        std::uint32_t index,
                                        std::uint32_t property,
                                        std::uint32_t* type, void* data,
                                        std::uint32_t capacity,
                                        std::uint32_t* size) {
  SP_DEVINFO_DATA record;
  if (!DeviceRecord(set, index, &record)) return GetLastError();
  DWORD value_type = 0;
  DWORD required = 0;
  const BOOL ok = SetupDiGetDeviceRegistryPropertyW(
      AsDeviceSet(set), &record, property, &value_type,
      static_cast<BYTE*>(data), capacity, &required);
  const Status status = LastErrorUnless(ok);
  if (ok || status == ERROR_INSUFFICIENT_BUFFER) {
    if (type != nullptr) *type = value_type;
    if (size != nullptr) *size = required;
  }
  return status;
}

Status Win32Platform::SetDeviceProperty(DeviceSetHandle set,
                                        std::uint32_t index,
                                        std::uint32_t property,
                                        const void* data, std::uint32_t size) {
  SP_DEVINFO_DATA record;
  if (!DeviceRecord(set, index, &record)) return GetLastError();
  return LastErrorUnless(SetupDiSetDeviceRegistryPropertyW(
      AsDeviceSet(set), &record, property, static_cast<const BYTE*>(data),
      size));
}

Status Win32Platform::DeviceInstanceId(DeviceSetHandle set, std::uint32_t index,
                                       std::u16string* id) {
  SP_DEVINFO_DATA record;
  if (!DeviceRecord(set, index, &record)) return GetLastError();
  std::wstring text(MAX_DEVICE_ID_LEN + 1, L'\0');
  DWORD required = 0;
  if (!SetupDiGetDeviceInstanceIdW(AsDeviceSet(set), &record, text.data(),
                                   static_cast<DWORD>(text.size()), &required)) {
    return GetLastError();
  }
  *id = FromWide(text.data(), wcsnlen(text.data(), text.size()));
  return ERROR_SUCCESS;
}

void Win32Platform::CloseDevices(DeviceSetHandle set) {
  SetupDiDestroyDeviceInfoList(AsDeviceSet(set));
}

// --- Files ----------------------------------------------------------------------

namespace {

// Windows refuses a path of MAX_PATH (260) units or more to a program that is
// not long-path aware, although the kernel loads a driver from such a path
// (a relative ImagePath of 249 units under the Windows folder makes one).
// Such a path is passed in its "\\?\" form, which has no such limit. That
// form is taken literally, with no "." or ".." resolved, no '/' read as a
// separator and no doubled separator folded, so the path is first made full
// the way Windows would have made it. Shorter paths are passed as they are.
std::wstring FilePath(std::u16string_view path) {
  std::wstring wide = Wide(path);
  if (wide.size() < MAX_PATH || wide.starts_with(L"\\\\?\\") ||
      wide.starts_with(L"\\\\.\\")) {
    return wide;
  }
  std::wstring full(wide.size() + MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(wide.c_str(),
                                          static_cast<DWORD>(full.size()),
                                          full.data(), nullptr);
    if (length == 0) return wide;
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.assign(length, L'\0');  // `length` counts the NUL here
  }
  // Only a drive path ("X:\...") has a plain long form; any other full path
  // (a network share) is left to Windows as it is.
  const bool drive_path = full.size() >= 3 && full[1] == L':' && full[2] == L'\\';
  return drive_path ? L"\\\\?\\" + full : wide;
}

}  // namespace

Status Win32Platform::FindPath(std::u16string_view path) {
  // A file search would take wildcards as a pattern and "find" a file the
  // path does not name ("OrvaneCo.dl>" finds "OrvaneCo.dll"); no file name
  // can hold them, which Windows reports as an invalid name.
  if (NamesOf(path).find_first_of(kSearchWildcards) != std::u16string_view::npos) {
    return ERROR_INVALID_NAME;
  }
  // A file search for one exact path finds a file or folder when its
  // attributes can be had, and never for a path that ends in a separator
  // (no name after it, the root of a drive included). The attributes are
  // one query, where a search opens and reads the whole folder: in a
  // driver folder of thousands of files that is most of a run's time.
  if (path.empty() || path.back() == u'\\' || path.back() == u'/') {
    return ERROR_FILE_NOT_FOUND;
  }
  return GetFileAttributesW(FilePath(path).c_str()) != INVALID_FILE_ATTRIBUTES
             ? ERROR_SUCCESS
             : GetLastError();
}

Status Win32Platform::GetAttributes(std::u16string_view path,
                                    std::uint32_t* attributes) {
  const DWORD found = GetFileAttributesW(FilePath(path).c_str());
  if (found == INVALID_FILE_ATTRIBUTES) return GetLastError();
  *attributes = found;
  return ERROR_SUCCESS;
}

Status Win32Platform::RenameFile(std::u16string_view from,
                                 std::u16string_view to) {
  return LastErrorUnless(
      MoveFileW(FilePath(from).c_str(), FilePath(to).c_str()));
}

Status Win32Platform::RenameReplacing(std::u16string_view from,
                                      std::u16string_view to) {
  return LastErrorUnless(MoveFileExW(FilePath(from).c_str(),
                                     FilePath(to).c_str(),
                                     MOVEFILE_REPLACE_EXISTING));
}

Status Win32Platform::RemoveFile(std::u16string_view path) {
  return LastErrorUnless(DeleteFileW(FilePath(path).c_str()));
}

Status Win32Platform::FileLength(std::u16string_view path,
                                 std::uint64_t* length) {
  const HANDLE file =
      CreateFileW(FilePath(path).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  LARGE_INTEGER size{};
  const Status status = LastErrorUnless(GetFileSizeEx(file, &size));
  CloseHandle(file);
  if (status == ERROR_SUCCESS) *length = static_cast<std::uint64_t>(size.QuadPart);
  return status;
}

Status Win32Platform::OpenAppendFile(std::u16string_view path, FileHandle* file,
                                     bool* created) {
  // The name itself is opened, never what it may point to: a symbolic link,
  // junction or other reparse point is opened as the link and refused, as is
  // a file with more than one name, before a byte is written.
  const HANDLE opened = CreateFileW(
      FilePath(path).c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return GetLastError();
  // OPEN_ALWAYS tells an existing file by this "error" of a call that
  // succeeded.
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  BY_HANDLE_FILE_INFORMATION info{};
  Status status = LastErrorUnless(GetFileInformationByHandle(opened, &info));
  if (status == ERROR_SUCCESS &&
      ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
       info.nNumberOfLinks > 1)) {
    status = win::kCantAccessFile;
  }
  // Windows opens no read-only file for writing; Wine run as root does, and
  // would let a run log where on Windows it has none.
  if (status == ERROR_SUCCESS && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    status = ERROR_ACCESS_DENIED;
  }
  // What is there stays; lines go after it.
  if (status == ERROR_SUCCESS) {
    status = LastErrorUnless(SetFilePointerEx(opened, {}, nullptr, FILE_END));
  }
  if (status != ERROR_SUCCESS) {
    CloseHandle(opened);
    return status;
  }
  *file = reinterpret_cast<FileHandle>(opened);
  *created = !existed;
  return ERROR_SUCCESS;
}

Status Win32Platform::AppendToFile(FileHandle file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk =
        static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
    if (!WriteFile(AsFile(file), bytes.data(), chunk, &written, nullptr)) {
      return GetLastError();
    }
    if (written == 0) return ERROR_WRITE_FAULT;
    bytes.remove_prefix(written);
  }
  return ERROR_SUCCESS;
}

void Win32Platform::CloseFile(FileHandle file) { CloseHandle(AsFile(file)); }

namespace {

// The path made full as Windows makes it ('.', '..', '/' and doubled
// separators resolved); the path as it is when that fails.
std::wstring FullPath(const std::wstring& path) {
  std::wstring full(path.size() + MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.assign(length, L'\0');  // `length` counts the NUL here
  }
}

// Upper case as the file system compares names.
std::wstring Upper(std::wstring text) {
  if (!text.empty()) {
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.data(), static_cast<int>(text.size()),
                 text.data(), static_cast<int>(text.size()));
  }
  return text;
}

// Opens `path` itself (a link as the link, a folder too), sharing everything.
HANDLE OpenToLook(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The facts of the full path `full`; see Platform::DescribeFile.
Status DescribeFullPath(const std::wstring& full, FileFacts* facts) {
  const std::wstring path = FilePath(Utf16Of(full));
  const HANDLE file = OpenToLook(path, FILE_READ_ATTRIBUTES);
  if (file != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info{};
    const Status status = LastErrorUnless(GetFileInformationByHandle(file, &info));
    CloseHandle(file);
    if (status != ERROR_SUCCESS) return status;
    wchar_t id[40];
    std::swprintf(id, 40, L"#%08lx:%08lx%08lx", info.dwVolumeSerialNumber, info.nFileIndexHigh,
                  info.nFileIndexLow);
    facts->identity = FromWide(id, std::wcslen(id));
    facts->exists = true;
    facts->attributes = info.dwFileAttributes;
    facts->links = info.nNumberOfLinks;
    const HANDLE deletable = OpenToLook(path, DELETE);
    facts->movable = deletable != INVALID_HANDLE_VALUE ? ERROR_SUCCESS : GetLastError();
    if (deletable != INVALID_HANDLE_VALUE) CloseHandle(deletable);
    facts->writable = ERROR_ACCESS_DENIED;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0) {
      // As the run log opens it; nothing is written.
      const HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      facts->writable = writer != INVALID_HANDLE_VALUE ? ERROR_SUCCESS : GetLastError();
      if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    }
    return ERROR_SUCCESS;
  }
  const Status error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return error;
  // Not there: named below the nearest folder that is.
  *facts = {};
  const std::size_t cut = full.find_last_of(L'\\');
  const std::wstring name = cut == std::wstring::npos ? full : full.substr(cut + 1);
  FileFacts parent;
  // Below the drive's root ("X:", or "\\?\X:" for a path taken literally).
  const std::size_t root = full.starts_with(L"\\\\?\\") ? kLiteralPathPrefix.size() + 2 : 2;
  if (cut != std::wstring::npos && cut + 1 < full.size() && cut > root &&
      DescribeFullPath(full.substr(0, cut), &parent) == ERROR_SUCCESS) {
    facts->identity = parent.identity + u'\\' + Utf16Of(Upper(name));
  } else {
    facts->identity = Utf16Of(Upper(full));
  }
  return ERROR_SUCCESS;
}

}  // namespace

Status Win32Platform::DescribeFile(std::u16string_view path, FileFacts* facts) {
  *facts = {};
  // GetFullPathNameW would trim a literal path's names too: it is full as
  // it stands.
  const std::wstring wide = Wide(path);
  return DescribeFullPath(path.starts_with(kLiteralPathPrefix) ? wide : FullPath(wide), facts);
}

std::string Win32Platform::ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const std::wstring wide = Wide(text);
  const int units = static_cast<int>(wide.size());
  // No best fit: a character the code page lacks becomes '?', never a
  // look-alike that would show a different name or path.
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  const char* fallback = "?";
  int bytes = WideCharToMultiByte(CP_ACP, flags, wide.data(), units, nullptr, 0,
                                  fallback, nullptr);
  if (bytes == 0) {
    // Code pages such as UTF-8 take neither the flag nor a fallback
    // character; they can hold every character anyway.
    flags = 0;
    fallback = nullptr;
    bytes = WideCharToMultiByte(CP_ACP, flags, wide.data(), units, nullptr, 0,
                                nullptr, nullptr);
  }
  if (bytes <= 0) return std::string(text.size(), '?');
  std::string converted(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, flags, wide.data(), units, converted.data(),
                      bytes, fallback, nullptr);
  return converted;
}

}  // namespace tarvox
