// The operating-system operations the repair logic uses, behind an interface of
// our own so the same logic runs against the real Win32 calls and against an
// in-memory machine in native tests.
//
// Every operation mirrors one Win32 call and keeps its results: error codes,
// byte counts, value types. Where the interface simplifies a call (strings in
// and out instead of caller buffers), the comment says what it keeps. Text is
// UTF-16 (`char16_t`) on both platforms; only the Win32 backend converts.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace tarvox {

// A Win32 error code. 0 is success; every other value is a failure.
using Status = std::uint32_t;

namespace win {
// Error codes the logic or its tests tell apart.
inline constexpr Status kSuccess = 0;
inline constexpr Status kFileNotFound = 2;
inline constexpr Status kPathNotFound = 3;
inline constexpr Status kAccessDenied = 5;
inline constexpr Status kInvalidData = 13;
inline constexpr Status kInvalidDrive = 15;
inline constexpr Status kNotReady = 21;
inline constexpr Status kSharingViolation = 32;
inline constexpr Status kBadNetPath = 53;
inline constexpr Status kFileExists = 80;
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kInsufficientBuffer = 122;
inline constexpr Status kInvalidName = 123;
inline constexpr Status kBadPathname = 161;
inline constexpr Status kAlreadyExists = 183;
inline constexpr Status kMoreData = 234;
inline constexpr Status kNoMoreItems = 259;
inline constexpr Status kDirectory = 267;
inline constexpr Status kChildMustBeVolatile = 1021;
inline constexpr Status kCantAccessFile = 1920;

// Registry value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Registry access rights.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;

// Device registry properties.
inline constexpr std::uint32_t kSpdrpUpperFilters = 17;
inline constexpr std::uint32_t kSpdrpLowerFilters = 18;

// File attributes (GetFileAttributesW).
inline constexpr std::uint32_t kFileAttributeReadOnly = 0x0001;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x0010;
inline constexpr std::uint32_t kFileAttributeReparsePoint = 0x0400;

// Message box styles.
inline constexpr std::uint32_t kMbOk = 0x00;
inline constexpr std::uint32_t kMbIconInformation = 0x40;
}  // namespace win

// The Windows version a program is told.
struct WindowsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  // Whether this is `major`.`minor` or later.
  bool AtLeast(std::uint32_t at_major, std::uint32_t at_minor) const {
    return major != at_major ? major > at_major : minor >= at_minor;
  }
};

// A moment in UTC, as GetSystemTime gives it.
struct UtcTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
};

// What a path names, as Windows sees it, learned without changing anything.
struct FileFacts {
  // The same for every spelling Windows takes for one file or folder: '.'
  // and '..', '/' and doubled separators, letter case (beyond A to Z too),
  // short 8.3 names, another name of a hard-linked file. For one that
  // exists, its volume and its number there; for one that does not, its
  // name in upper case below the identity of the nearest folder that does
  // (or the whole full path, when none does).
  std::u16string identity;
  bool exists = false;
  std::uint32_t attributes = 0;  // of one that exists (of a link itself)
  std::uint32_t links = 0;       // its names: 2 or more when hard-linked
  // 0 when it could be moved or deleted now; 32 while another program
  // holds it open without sharing its deletion; else why it could not be
  // opened for deletion.
  Status movable = 0;
  // 0 when it could be opened for writing now, as the run log opens it
  // (sharing reading and writing); 32 while another program holds it open
  // without sharing writing; 5 for a read-only file or a folder (Windows
  // opens neither for writing; Wine run as root opens a read-only file
  // anyway, and the Win32 backend answers as Windows), or one whose
  // security refuses writing.
  Status writable = 0;
};

// Opaque handles. 0 never names an open object.
using KeyHandle = std::uintptr_t;
using DeviceSetHandle = std::uintptr_t;
using FileHandle = std::uintptr_t;
inline constexpr KeyHandle kNoKey = 0;
inline constexpr DeviceSetHandle kNoDeviceSet = 0;
inline constexpr FileHandle kNoFile = 0;

// Units a file search takes as wildcards. No file name holds one, so a path
// with one of them names no file.
inline constexpr std::u16string_view kSearchWildcards = u"*?<>\"";

// The prefix of a path Windows takes literally ("\\?\C:\..."), as its loader
// opens a driver's file: no '/' read as a separator, no "." or ".."
// resolved, no dot or blank that ends a name dropped, no reserved name
// ("NUL", "COM1.sys") taken for a device.
inline constexpr std::u16string_view kLiteralPathPrefix = u"\\\\?\\";

// The path without that prefix: the part that holds names.
inline std::u16string_view NamesOf(std::u16string_view path) {
  return path.starts_with(kLiteralPathPrefix) ? path.substr(kLiteralPathPrefix.size()) : path;
}

// Whether Win32 file calls read `name`, the last name of a path, as a device
// rather than a file: "CON", "PRN", "AUX", "NUL", "COM0" to "COM9", "LPT0"
// to "LPT9" (and with a superscript 1 to 3), "CONIN$", "CONOUT$", in any
// letter case and whatever follows a dot or colon ("nul.sys" too, up to
// Windows 10; Windows 11 takes only the bare names). A path in the literal
// form names a file whatever its names are.
inline bool IsReservedDeviceName(std::u16string_view name) {
  std::u16string_view base = name.substr(0, name.find_first_of(u".:"));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  const auto same = [](std::u16string_view text, std::u16string_view upper) {
    if (text.size() != upper.size()) return false;
    for (std::size_t at = 0; at < text.size(); ++at) {
      const char16_t unit = text[at] >= u'a' && text[at] <= u'z' ? char16_t(text[at] - 32) : text[at];
      if (unit != upper[at]) return false;
    }
    return true;
  };
  for (const std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (same(base, device)) return true;
  }
  if (base.size() != 4 || !(same(base.substr(0, 3), u"COM") || same(base.substr(0, 3), u"LPT"))) {
    return false;
  }
  const char16_t number = base[3];
  return (number >= u'0' && number <= u'9') || number == u'\u00b9' || number == u'\u00b2' ||
         number == u'\u00b3';
}

class Platform {
 public:
  virtual ~Platform() = default;

  // --- Registry, always below HKEY_LOCAL_MACHINE -------------------------
  // Key paths are relative ("SYSTEM\\CurrentControlSet\\..."); key and value
  // names compare without regard to letter case.

  // RegOpenKeyExW: 2 when the key is missing, 5 when its security refuses
  // the access asked for.
  virtual Status OpenKey(std::u16string_view path, std::uint32_t access,
                         KeyHandle* key) = 0;
  // RegCreateKeyExW (non-volatile, no class): opens the key, creating it and
  // every missing key along its path. `*created` (when given) tells whether
  // the key itself was made now (REG_CREATED_NEW_KEY).
  virtual Status CreateKey(std::u16string_view path, std::uint32_t access,
                           KeyHandle* key, bool* created) = 0;
  // RegQueryValueExW. `type` and `data` may be null; `size` holds the
  // capacity in bytes on entry and the value's size on return. A buffer too
  // small gives 234 with the needed size and leaves the buffer untouched.
  virtual Status QueryValue(KeyHandle key, std::u16string_view name,
                            std::uint32_t* type, void* data,
                            std::uint32_t* size) = 0;
  // RegSetValueExW. As Windows does, string data whose last unit is not NUL
  // but is followed by a NUL unit in the caller's buffer is stored with that
  // NUL: callers that write strings pass buffers with room after the data.
  virtual Status SetValue(KeyHandle key, std::u16string_view name,
                          std::uint32_t type, const void* data,
                          std::uint32_t size) = 0;
  // RegDeleteValueW: 2 when the value does not exist.
  virtual Status DeleteValue(KeyHandle key, std::u16string_view name) = 0;
  // RegEnumKeyExW / RegEnumValueW: the name at `index` into `name`, whose
  // capacity in units (NUL included) `length` holds on entry; on success
  // `length` is the name's length without its NUL. 234 when the name does
  // not fit, 259 past the last one. Subkeys come in order of their names.
  virtual Status EnumKey(KeyHandle key, std::uint32_t index, char16_t* name,
                         std::uint32_t* length) = 0;
  virtual Status EnumValue(KeyHandle key, std::uint32_t index, char16_t* name,
                           std::uint32_t* length) = 0;
  // The name the open key is stored under (the last part of its path, as
  // spelled when it was created), from NtQueryKey. Opening a key by a name
  // finds it whatever the case of the name's letters; this tells how it is
  // really spelled.
  virtual Status KeyName(KeyHandle key, std::u16string* name) = 0;
  // RegCloseKey.
  virtual void CloseKey(KeyHandle key) = 0;

  // --- Devices of the CD-ROM setup class ---------------------------------

  // SetupDiGetClassDevsW for the CD-ROM class, no enumerator, no window,
  // flags 0 (absent devices included). kNoDeviceSet when no set is had.
  virtual DeviceSetHandle OpenCdromDevices() = 0;
  // SetupDiEnumDeviceInfo: true when the set has a device at `index`.
  virtual bool EnumDevice(DeviceSetHandle set, std::uint32_t index) = 0;
  // SetupDiGetDeviceRegistryPropertyW into `data` of `capacity` bytes,
  // with the data's type and its size in bytes (the call's required size).
  // 0 on success, else the call's last error: 13 for a missing property,
  // 122 for a buffer too small (the buffer is then not to be read).
  virtual Status GetDeviceProperty(DeviceSetHandle set, std::uint32_t index,
                                   std::uint32_t property, std::uint32_t* type,
                                   void* data, std::uint32_t capacity,
                                   std::uint32_t* size) = 0;
  // SetupDiSetDeviceRegistryPropertyW; null data with size 0 clears it.
  virtual Status SetDeviceProperty(DeviceSetHandle set, std::uint32_t index,
                                   std::uint32_t property, const void* data,
                                   std::uint32_t size) = 0;
  // SetupDiGetDeviceInstanceIdW: the device's instance id, as
  // "ROOT\CDROM\0000", by which support staff and Device Manager know it.
  virtual Status DeviceInstanceId(DeviceSetHandle set, std::uint32_t index,
                                  std::u16string* id) = 0;
  // SetupDiDestroyDeviceInfoList.
  virtual void CloseDevices(DeviceSetHandle set) = 0;

  // --- Files --------------------------------------------------------------
  // Paths are full Windows paths of any length: a path of 260 units or more
  // works as a shorter one does, although Windows refuses such paths to a
  // program that is not long-path aware unless they are given in their
  // "\\?\" form (which the Win32 backend makes for them).

  // What FindFirstFileW on one exact path answers: 0 when the path names a
  // file or folder, else the error that says why not. "Not there" comes in
  // several codes (2, 3, and 123 for a name no file can have); every other
  // code means the path may name a file that cannot be seen now (access
  // denied, a network or a device that does not answer). A path holding any
  // unit the search takes as a wildcard ('*', '?', '<', '>' or '"') names no
  // file: 123; so does a path that ends in a separator: 2.
  virtual Status FindPath(std::u16string_view path) = 0;
  // GetFileAttributesW: the attributes of a file or folder (of a link
  // itself, not of what it points to), 2 or 3 when there is none.
  virtual Status GetAttributes(std::u16string_view path,
                               std::uint32_t* attributes) = 0;
  // MoveFileW: fails when `to` exists (183), and with 32 while another
  // program holds `from` open without sharing its deletion.
  virtual Status RenameFile(std::u16string_view from,
                            std::u16string_view to) = 0;
  // MoveFileExW with MOVEFILE_REPLACE_EXISTING: `from` takes the place of
  // `to` in one step, or nothing changes. Fails with 32 while `from` is held
  // open without sharing its deletion, and with 5 while `to` is held open or
  // is a folder. (Windows also refuses a read-only `to`; Wine run as root
  // does not, so callers test the attribute themselves.)
  virtual Status RenameReplacing(std::u16string_view from,
                             std::u16string_view to) = 0;
  // DeleteFileW: 5 for a read-only file or a folder, 32 while another
  // program holds the file open without sharing its deletion.
  virtual Status RemoveFile(std::u16string_view path) = 0;
  // Opens the file for reading and takes its length in bytes.
  virtual Status FileLength(std::u16string_view path,
                            std::uint64_t* length) = 0;
  // Opens the file for appending, creating it when it does not exist
  // (`*created` tells which); others may read and write it meanwhile. A
  // read-only file or a folder is refused with 5, a file another program
  // holds open without sharing writing with 32. Never through a link: a
  // name that is a symbolic link, junction or other reparse point, or a file
  // that has other names too (a hard link), is refused with 1920 and left as
  // it is.
  virtual Status OpenAppendFile(std::u16string_view path, FileHandle* file,
                                bool* created) = 0;
  // Writes all of `bytes` at the end of what was written; nothing is held
  // back in a buffer.
  virtual Status AppendToFile(FileHandle file, std::string_view bytes) = 0;
  virtual void CloseFile(FileHandle file) = 0;
  // The facts of `path`: GetFullPathNameW, then CreateFileW for reading its
  // attributes (GetFileInformationByHandle) and for deletion, both sharing
  // everything, and for writing as the run log is opened; each closed at
  // once, nothing written. 0 when they were had, whether the path
  // names a file or not; else the error that kept them from being had (a
  // folder that refuses to be looked into, a network that does not answer).
  virtual Status DescribeFile(std::u16string_view path, FileFacts* facts) = 0;
  // Text in the ANSI code page, as WideCharToMultiByte with no best fit
  // gives it: '?' for each UTF-16 unit the code page cannot hold, so a
  // character outside the Basic Multilingual Plane becomes "??".
  virtual std::string ToAnsi(std::u16string_view text) = 0;

  // --- Process ------------------------------------------------------------

  // CreateMutexW(no security attributes, initial owner, name) followed by
  // GetLastError: 0 when it made the mutex; 183 when a mutex of that name
  // existed already, and then `*held_here` tells whether it is one this
  // process made before, under this name or another (in session 0 the
  // plain, "Local\" and "Global\" names are one object). That is decided by
  // the object the call returned, never by the name or the session. When
  // none is had, the error that says why (5: one exists that this process
  // may not open, or this process may make none of that name). Handles are
  // held until the process ends.
  virtual Status CreateNamedMutex(std::u16string_view name, bool* held_here) = 0;
  // OpenMutexW for synchronisation only: 0 when a mutex of that name exists
  // (a handle to it is not kept), 2 when none does. Unlike CreateNamedMutex
  // it never makes one, so it never keeps a repair from starting.
  virtual Status FindNamedMutex(std::u16string_view name) = 0;
  // Whether the process has administrator rights: its token holds the
  // Administrators group, enabled (CheckTokenMembership). Not elevated under
  // User Account Control means no.
  virtual bool IsAdministrator() = 0;
  // dwMajorVersion, dwMinorVersion and dwBuildNumber from GetVersionExW with
  // a 276-byte OSVERSIONINFOW; 0.0.0 when the call fails. (Windows 8.1 and later say 6.2
  // to a program whose manifest does not name them: still "8 or later".)
  virtual WindowsVersion OsVersion() = 0;
  // Whether a window this process shows can be seen by anyone: its window
  // station is visible (WSF_VISIBLE), and it does not run in session 0 of
  // Windows Vista or later, which no user ever sees. Services, scheduled
  // tasks and the deployment agents they start have no visible station. A
  // station that cannot be asked counts as not seen.
  virtual bool NoticeCanBeSeen() = 0;
  // GetComputerNameW: the computer's name; empty when it cannot be had.
  virtual std::u16string ComputerName() = 0;
  // GetSystemTime: now, in UTC.
  virtual UtcTime Now() = 0;
  // GetEnvironmentVariableW: the whole value, or nothing when unset.
  virtual std::optional<std::u16string> ReadEnvironment(
      std::u16string_view name) = 0;
  // GetCommandLineW.
  virtual std::u16string CommandLine() = 0;
  // The executable's file name without folder and extension.
  virtual std::u16string ProgramBaseName() = 0;
  // LoadStringW: the string resource of `id`, empty when there is none.
  virtual std::u16string LoadMessage(std::uint32_t id) = 0;
  // MessageBoxW without owner; returns when the user has closed it.
  virtual void ShowNotice(std::u16string_view text, std::u16string_view caption,
                          std::uint32_t style) = 0;
};

}  // namespace tarvox
