// Win32 helpers for the Windows-side tests: arranging and reading registry
// values and files, and starting programs with an exact command line. They
// fail the current test (ADD_FAILURE) when Windows refuses a set-up step.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvox::wintest {

std::wstring Wide(std::u16string_view text);
std::u16string Utf16(std::wstring_view text);

// --- Registry (HKEY_LOCAL_MACHINE unless a root is given) ---------------------
struct RegValue {
  DWORD type = 0;
  std::string bytes;
  bool operator==(const RegValue&) const = default;
};

void PutValue(const std::wstring& key, const std::wstring& name, DWORD type,
              const std::string& bytes, HKEY root = HKEY_LOCAL_MACHINE);
void PutString(const std::wstring& key, const std::wstring& name,
               const std::wstring& text, HKEY root = HKEY_LOCAL_MACHINE);
void PutMultiSz(const std::wstring& key, const std::wstring& name,
                const std::vector<std::wstring>& entries);
void PutKey(const std::wstring& key);
std::optional<RegValue> GetValue(const std::wstring& key,
                                 const std::wstring& name);
bool KeyExists(const std::wstring& key);
void DeleteKeyTree(const std::wstring& key);
// Everyone is refused `access` on the key from now on.
void DenyKeyAccess(const std::wstring& key, DWORD access);

// REG_MULTI_SZ bytes of a list: each entry and its NUL, then the closing NUL.
std::string MultiSzBytes(const std::vector<std::wstring>& entries);
std::string WideBytes(std::wstring_view text);

// --- CD-ROM devices ---------------------------------------------------------------
// A CD-ROM-class device exists for the device services once its key below
// Enum names the class: "ROOT\CDROM\0000" and so on.
void AddCdromDevice(const std::wstring& instance_id);
// The device's property (SPDRP_LOWERFILTERS, SPDRP_UPPERFILTERS) read back
// through the device services; nullopt when the device has none.
std::optional<RegValue> DeviceProperty(const std::wstring& instance_id,
                                       DWORD property);

// --- Files ----------------------------------------------------------------------
std::wstring WindowsFolder();  // %SystemRoot%
void MakeFolders(const std::wstring& path);  // with every missing parent
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::optional<std::string> ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
void MakeReadOnly(const std::wstring& path);

// An open file handle that closes itself.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~OwnedHandle();
  OwnedHandle(OwnedHandle&& other) noexcept;
  OwnedHandle& operator=(OwnedHandle&& other) noexcept;
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const {
    return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr;
  }

 private:
  HANDLE handle_;
};

// Opens the file with no sharing, as another program holding it would.
OwnedHandle HoldExclusively(const std::wstring& path);
// Opens the file for reading, sharing reading and writing but not deletion,
// as a log viewer does.
OwnedHandle HoldShared(const std::wstring& path);

// --- Sessions -------------------------------------------------------------------
// Makes the name `name` of this session's object namespace (the plain and
// "Local\" names of a mutex) a link to the global one, "Global\" + name,
// until the handle goes. Session 0 (services, SYSTEM agents, scheduled
// tasks) has no namespace of its own and uses the global one; Wine runs
// every process in session 1, so this is how a test meets session 0.
OwnedHandle LinkSessionNameToGlobal(const std::wstring& name);

// --- Processes ------------------------------------------------------------------
struct ProgramEnd {
  bool ended = false;   // false: still running when the wait ran out (killed)
  DWORD exit_code = 0;  // the whole 32-bit value, -1 reads 0xFFFFFFFF
};
// Starts the program with exactly this command line and waits for its end,
// calling `while_running` with its process id every 50 ms meanwhile. A
// program still running after `timeout_ms` is killed.
ProgramEnd RunProgram(const std::wstring& command_line, DWORD timeout_ms,
                      const std::function<void(DWORD)>& while_running = {});
// The same for a console program, with what it wrote to standard output and
// standard error (through files, never pipes: see wine-exec.sh).
ProgramEnd RunConsoleProgram(const std::wstring& command_line, DWORD timeout_ms,
                             std::string* out, std::string* err);

}  // namespace tarvox::wintest
