// An in-memory machine: registry, CD-ROM devices, files and process, with the
// results the Win32 backend gives (the contract tests hold the two together).
// Native tests and fuzzers run the repair logic against it, and set up the
// machine through the methods below the Platform overrides.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace tarvox {

class MemoryPlatform final : public Platform {
 public:
  MemoryPlatform();
  ~MemoryPlatform() override;

  struct StoredValue {
    std::uint32_t type = 0;
    std::string bytes;
  };

  struct Notice {
    std::u16string text;
    std::u16string caption;
    std::uint32_t style = 0;
  };

  // Platform ----------------------------------------------------------------
  Status OpenKey(std::u16string_view path, std::uint32_t access,
                 KeyHandle* key) override;
  Status CreateKey(std::u16string_view path, std::uint32_t access,
                   KeyHandle* key, bool* created) override;
  Status QueryValue(KeyHandle key, std::u16string_view name,
                    std::uint32_t* type, void* data,
                    std::uint32_t* size) override;
  Status SetValue(KeyHandle key, std::u16string_view name, std::uint32_t type,
                  const void* data, std::uint32_t size) override;
  Status DeleteValue(KeyHandle key, std::u16string_view name) override;
  Status EnumKey(KeyHandle key, std::uint32_t index, char16_t* name,
                 std::uint32_t* length) override;
  Status EnumValue(KeyHandle key, std::uint32_t index, char16_t* name,
                   std::uint32_t* length) override;
  Status KeyName(KeyHandle key, std::u16string* name) override;
  void CloseKey(KeyHandle key) override;

  DeviceSetHandle OpenCdromDevices() override;
  bool EnumDevice(DeviceSetHandle set, std::uint32_t index) override;
  Status GetDeviceProperty(DeviceSetHandle set, std::uint32_t index,
                           std::uint32_t property, std::uint32_t* type,
                           void* data, std::uint32_t capacity,
                           std::uint32_t* size) override;
  Status SetDeviceProperty(DeviceSetHandle set, std::uint32_t index,
                           std::uint32_t property, const void* data,
                           std::uint32_t size) override;
  Status DeviceInstanceId(DeviceSetHandle set, std::uint32_t index,
                          std::u16string* id) override;
  void CloseDevices(DeviceSetHandle set) override;

  Status FindPath(std::u16string_view path) override;
  Status GetAttributes(std::u16string_view path,
                       std::uint32_t* attributes) override;
  Status RenameFile(std::u16string_view from, std::u16string_view to) override;
  Status RenameReplacing(std::u16string_view from, std::u16string_view to) override;
  Status RemoveFile(std::u16string_view path) override;
  Status FileLength(std::u16string_view path, std::uint64_t* length) override;
  Status OpenAppendFile(std::u16string_view path, FileHandle* file,
                        bool* created) override;
  Status AppendToFile(FileHandle file, std::string_view bytes) override;
  void CloseFile(FileHandle file) override;
  Status DescribeFile(std::u16string_view path, FileFacts* facts) override;
  std::string ToAnsi(std::u16string_view text) override;

  Status CreateNamedMutex(std::u16string_view name, bool* held_here) override;
  Status FindNamedMutex(std::u16string_view name) override;
  bool IsAdministrator() override;
  WindowsVersion OsVersion() override;
  bool NoticeCanBeSeen() override;
  std::u16string ComputerName() override;
  UtcTime Now() override;
  std::optional<std::u16string> ReadEnvironment(
      std::u16string_view name) override;
  std::u16string CommandLine() override;
  std::u16string ProgramBaseName() override;
  std::u16string LoadMessage(std::uint32_t id) override;
  void ShowNotice(std::u16string_view text, std::u16string_view caption,
                  std::uint32_t style) override;

  // Setting up and reading the registry --------------------------------------
  // Creates the key and its path as needed.
  void PutValue(std::u16string_view path, std::u16string_view name,
                std::uint32_t type, std::string_view bytes);
  void PutString(std::u16string_view path, std::u16string_view name,
                 std::u16string_view text);  // REG_SZ, NUL included
  void PutMultiSz(std::u16string_view path, std::u16string_view name,
                  const std::vector<std::u16string>& entries);
  void PutDword(std::u16string_view path, std::u16string_view name,
                std::uint32_t value);
  void PutKey(std::u16string_view path);
  std::optional<StoredValue> GetValue(std::u16string_view path,
                                      std::u16string_view name) const;
  bool KeyExists(std::u16string_view path) const;
  // Opening the key with any of `access` fails with 5 from now on.
  void DenyAccess(std::u16string_view path, std::uint32_t access);
  // Opening the key is allowed again, whatever DenyAccess refused.
  void AllowAccess(std::u16string_view path);
  // The rights DenyAccess refused on the key; 0 for a key that is not there.
  std::uint32_t DeniedAccess(std::u16string_view path) const;
  // The key lives in memory only, as Windows' volatile keys do: a key that
  // is not volatile cannot be made below it (1021).
  void MakeVolatile(std::u16string_view path);
  // Writes and deletes of values in the key fail with `status` from now on,
  // although the key opens; a full registry or a key deleted meanwhile.
  void FailWrites(std::u16string_view path, Status status);
  // Reads of the value `name` of the key fail with `status` from now on,
  // although the key opens and the value is there: a hive that cannot be
  // read (1016), or a key deleted meanwhile (1018).
  void FailReads(std::u16string_view path, std::u16string_view name, Status status);
  // How many times a key was opened or created through the interface.
  int key_opens() const { return key_opens_; }
  // A CD-ROM device: a key below the device tree with the class GUID.
  void AddCdromDevice(std::u16string_view instance);
  // Every value of the registry, by key path (as spelled) and value name,
  // and every key path: what a run changed shows in a comparison.
  struct ValueAt {
    std::u16string key;
    std::u16string name;
    StoredValue value;
  };
  std::vector<ValueAt> AllValues() const;
  std::vector<std::u16string> AllKeys() const;

  // Faults ----------------------------------------------------------------------
  // The operation numbered `index` (from 0, counting every registry, device
  // and file operation of the interface) fails with `status`: a Status
  // result gives it; a device set is not had; a device or path is not there.
  // Nothing is done by the failing operation.
  void FailOperation(long index, Status status) {
    fail_at_ = index;
    fail_status_ = status;
  }
  // How many registry, device and file operations ran so far.
  long operations() const { return operations_; }
  // The operation that was made to fail, once it has: its name (as in this
  // interface), what it was about (the key's path for a registry operation,
  // the path for a file operation, the source of a rename; empty for device
  // operations), the status it gave, and the value it was about, as an
  // Operation's.
  struct FiredFault {
    std::string operation;
    std::u16string subject;
    Status status = 0;
    std::u16string value;
  };
  const std::optional<FiredFault>& fired_fault() const { return fired_; }
  // From now on every registry, device and file operation is noted, its
  // name and what it was about as for a fault, in the order they ran.
  struct Operation {
    std::string operation;
    std::u16string subject;
    // For an operation on one value or device property: the value's key
    // path and name, joined by a backslash (a device's filter properties
    // are values of its key, as in Windows).
    std::u16string value;
  };
  void KeepTrace() { keep_trace_ = true; }
  const std::vector<Operation>& trace() const { return trace_; }
  // Another program acts on the machine right before the operation
  // numbered `index` (counted as FailOperation counts) runs: `act` changes
  // it through the setting-up methods below, which are no operations.
  void BeforeOperation(long index, std::function<void()> act) {
    act_at_ = index;
    act_ = std::move(act);
  }

  // Setting up and reading files ----------------------------------------------
  // Paths are Windows paths; the parent folder is created as needed.
  void AddFolder(std::u16string_view path);
  void AddFile(std::u16string_view path, std::string_view bytes);
  void SetReadOnly(std::u16string_view path, bool read_only);
  // A symbolic link (a reparse point) at `path`, as someone may plant one.
  // What it points to is never followed.
  void AddSymbolicLink(std::u16string_view path);
  // A file that has a second name elsewhere (a hard link).
  void AddHardLinkedFile(std::u16string_view path, std::string_view bytes);
  // Every file operation on `path`, or on anything below it, fails with
  // `status` from now on: a file on a network or a device that does not
  // answer, or behind an access check the tool cannot pass.
  void MakeUnreachable(std::u16string_view path, Status status);
  // Another process holds the file open without sharing it.
  void HoldExclusively(std::u16string_view path);
  // Another process reads the file, sharing reading and writing but not
  // deletion, as a log viewer does: the file can still be opened, written
  // and measured, but not renamed, replaced or deleted.
  void HoldShared(std::u16string_view path);
  // The folder relative paths resolve against; the root of drive C at
  // first.
  void SetCurrentFolder(std::u16string_view folder);
  std::optional<std::string> FileBytes(std::u16string_view path) const;
  bool FileExists(std::u16string_view path) const;
  // The path with every part that has a short (8.3) name spelled by it, as
  // GetShortPathNameW gives it.
  std::u16string ShortPathOf(std::u16string_view path) const;
  // The paths of all files (not folders), in their stored spelling.
  std::vector<std::u16string> AllFiles() const;
  // Each file's bytes by its stored path. (A stored name Win32 calls trim,
  // "cd.sys.", is not found again by FileBytes under that spelling.)
  std::map<std::u16string, std::string> AllFileBytes() const;

  // Setting up and reading the process ----------------------------------------
  // The session the tool runs in: 1 at first, a user's. Session 0 is where
  // services, SYSTEM agents and scheduled tasks run; there a plain or
  // "Local\" name is the "Global\" one, as Windows has it.
  void SetSession(std::uint32_t session) { session_ = session; }
  // Another process holds the mutex, the name read as in the tool's session.
  void HoldMutex(std::u16string_view name);
  // Creating the mutex is refused (5): held by a process of another user
  // when it is held too, else one this process may not make.
  void RefuseMutex(std::u16string_view name);
  // The process that ran the tool has ended: the mutexes it created go.
  void ProcessExited() { own_mutexes_.clear(); }
  void SetOsVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t build = 0) {
    os_version_ = {major, minor, build};
  }
  void SetComputerName(std::u16string name) { computer_name_ = std::move(name); }
  void SetNow(UtcTime now) { now_ = now; }
  // Started where nobody sees a window: a service, a scheduled task. (In
  // session 0 of Windows Vista and later nobody sees one anyway.)
  void SetNoticeCanBeSeen(bool seen) { notice_can_be_seen_ = seen; }
  void SetAdministrator(bool administrator) { administrator_ = administrator; }
  void SetEnvironment(std::u16string_view name,
                      std::optional<std::u16string> value);
  void SetCommandLine(std::u16string command_line) {
    command_line_ = std::move(command_line);
  }
  void SetProgramBaseName(std::u16string name) {
    program_name_ = std::move(name);
  }
  const std::vector<Notice>& notices() const { return notices_; }

 private:
  struct Value {
    std::u16string name;
    std::uint32_t type = 0;
    std::string bytes;
  };
  struct Key {
    std::u16string name;
    // Keyed by the folded name, so enumeration follows the names' order.
    std::map<std::u16string, std::unique_ptr<Key>> subkeys;
    std::vector<Value> values;  // in the order they were first written
    std::uint32_t denied_access = 0;
    Status write_failure = 0;
    std::map<std::u16string, Status> read_failures;  // by value name, folded
    bool is_volatile = false;
  };
  struct OpenKeyState {
    Key* key;
    std::uint32_t access;
    std::u16string path;  // as opened, for the faults' subject
  };
  struct Node {
    std::u16string path;  // as first spelled
    std::u16string short_name;  // its 8.3 name, when its own is not one
    bool folder = false;
    bool read_only = false;
    bool reparse_point = false;
    bool hard_linked = false;
    bool held_exclusively = false;
    bool held_shared = false;
    int open_for_write = 0;
    std::string bytes;
  };
  struct OpenFileState {
    std::u16string key;  // into files_
  };

  // A new file or folder at the normalized path, with its short name.
  Node MakeNode(const std::u16string& normalized, bool folder) const;
  static std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);
  // The file or folder right in `folder` (normalized) whose name, or short
  // name, is `name`.
  const Node* ChildNamed(std::u16string_view folder, std::u16string_view name) const;
  static std::uint32_t AttributesOf(const Node& node);
  Key* FindKey(std::u16string_view path) const;
  Key* MakeKey(std::u16string_view path);
  // The deepest key along `path` that is there (the root at least).
  const Key* NearestKey(std::u16string_view path) const;
  static Value* FindValue(Key& key, std::u16string_view name);
  Status Lookup(KeyHandle handle, std::uint32_t needed, Key** key) const;
  KeyHandle NewHandle(Key* key, std::uint32_t access, std::u16string_view path);
  std::u16string_view PathOf(KeyHandle handle) const;
  std::u16string DeviceInstancePath(DeviceSetHandle set,
                                    std::uint32_t index) const;

  // Absolute, backslashed, '.' and '..' resolved, doubled separators folded;
  // then the upper-cased form used as the key of files_.
  std::u16string Normalize(std::u16string_view path) const;
  static std::u16string FoldPath(std::u16string_view normalized);
  static std::u16string ParentOf(std::u16string_view normalized);
  bool ParentFolderExists(std::u16string_view normalized) const;
  Node* FindNode(std::u16string_view path);
  const Node* FindNode(std::u16string_view path) const;
  // Gives the existing file or folder at `from` the normalized path
  // `target`, in place of whatever was there.
  void MoveNode(std::u16string_view from, const std::u16string& target);
  // Whether a handle without delete sharing is open on the file: its own
  // writer or another program's.
  static bool HeldWithoutDeleteSharing(const Node& node);
  // 0 when the path can be reached, else the status MakeUnreachable gave it
  // or a parent of it.
  Status Unreachable(std::u16string_view path) const;
  // Whether Win32 file calls take the path for a device ("C:\x\nul.sys"):
  // its last name is a reserved one, and it is not in the literal form.
  bool NamesADevice(std::u16string_view path) const;
  // Why there is nothing at a path that names no file or folder here: 2 in
  // a folder that exists, 3 when the folder does not, or is a file; 123 for
  // a unit no file name can hold.
  Status WhyNotFound(std::u16string_view path) const;

  Key root_;
  std::map<KeyHandle, OpenKeyState> open_keys_;
  KeyHandle next_key_ = 1;
  int key_opens_ = 0;

  std::map<DeviceSetHandle, std::vector<std::u16string>> device_sets_;
  DeviceSetHandle next_device_set_ = 1;

  std::map<std::u16string, Node> files_;  // keyed by FoldPath
  std::map<std::u16string, Status> unreachable_;  // keyed by FoldPath
  std::map<FileHandle, OpenFileState> open_files_;
  std::u16string current_folder_ = u"C:\\";
  FileHandle next_file_ = 1;

  // Counts an operation; true (with `*status` set) when it is the one to
  // fail.
  // `value_key` and `value_name` name the value the operation is on, if any.
  bool Faulted(Status* status, std::string_view operation,
               std::u16string_view subject, std::u16string_view value_key = {},
               std::u16string_view value_name = {});

  long operations_ = 0;
  long fail_at_ = -1;
  Status fail_status_ = 0;
  std::optional<FiredFault> fired_;
  bool keep_trace_ = false;
  std::vector<Operation> trace_;
  long act_at_ = -1;
  std::function<void()> act_;

  // The object a mutex name reaches from the tool's session: its full name
  // in the object namespace.
  std::u16string MutexObject(std::u16string_view name) const;

  // Mutexes by object.
  std::set<std::u16string> mutexes_;      // held by other processes
  std::set<std::u16string> own_mutexes_;  // created by the tool
  std::set<std::u16string> refused_mutexes_;
  std::uint32_t session_ = 1;
  WindowsVersion os_version_{10, 0, 19045};
  std::u16string computer_name_ = u"TARVOX-TEST";
  UtcTime now_{2026, 1, 2, 3, 4, 5};
  bool notice_can_be_seen_ = true;
  bool administrator_ = true;
  std::map<std::u16string, std::u16string> environment_;  // folded names
  std::u16string command_line_ = u"Tarvox.exe";
  std::u16string program_name_ = u"Tarvox";
  std::vector<Notice> notices_;
};

}  // namespace tarvox
