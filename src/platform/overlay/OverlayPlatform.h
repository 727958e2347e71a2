// A machine seen through glass: every read goes to the machine below, every
// write is kept here instead of reaching it, and later reads see the kept
// writes as if they had happened. The repair checks run on it exactly as a
// repair runs: what they write here is what a repair would write, in the
// order it would, and the machine below is left as it was. TarvoxCheck.exe
// uses it over the real machine; the tests over the in-memory one.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace tarvox {

class OverlayPlatform final : public Platform {
 public:
  // `below` is only ever read. With `read_where_write_refused`, a key that
  // refuses to be opened for changes is opened for reading instead and
  // answered as if it had opened: a check without administrator rights
  // foresees a repair run with them (the keys are noted, see
  // keys_refusing_writes()).
  OverlayPlatform(Platform& below, bool read_where_write_refused);
  ~OverlayPlatform() override;

  // A change the run would make, in the order it would make it.
  struct Change {
    enum class Kind {
      kKeyCreated,       // `where`: the key's path
      kValueSet,         // `where`: key path; `name`, `type`, `bytes`
      kValueDeleted,     // `where`: key path; `name`
      kPropertySet,      // `where`: device instance id; `property`, `bytes`
      kPropertyCleared,  // `where`: device instance id; `property`
      kFileRenamed,      // `where`: from; `name`: to
    };
    Kind kind;
    std::u16string where;
    std::u16string name;
    std::uint32_t type = 0;
    std::uint32_t property = 0;
    std::string bytes;
  };
  const std::vector<Change>& changes() const { return changes_; }
  // The keys a run without administrator rights could not have changed.
  const std::set<std::u16string>& keys_refusing_writes() const {
    return refused_;
  }
  // The notices the run would have shown.
  const std::vector<std::u16string>& notices() const { return notices_; }

  // Platform ------------------------------------------------------------------
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
  Status RenameReplacing(std::u16string_view from,
                         std::u16string_view to) override;
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

 private:
  // A value as the run left it: written (with its name as spelled), or
  // deleted.
  struct KeptValue {
    std::u16string name;
    std::uint32_t type = 0;
    std::string bytes;
    bool deleted = false;
  };
  struct KeptKey {
    bool created = false;  // not there below: made by the run
    std::u16string path;   // as spelled when first met
    std::map<std::u16string, KeptValue> values;  // by folded name
    std::vector<std::u16string> order;           // folded names, first written first
  };
  struct Handle {
    std::u16string key;          // folded path, into keys_
    KeyHandle below = kNoKey;    // none for a key the run made
    std::uint32_t access = 0;    // as the run asked
  };
  // A file as the run left it: there (moved from `source` below) or gone.
  struct KeptFile {
    bool present = false;
    std::u16string source;  // where below its content and attributes are
  };

  KeptKey& Kept(std::u16string_view path);
  const Handle* Find(KeyHandle key) const;
  Status OpenBelow(std::u16string_view path, std::uint32_t access,
                   KeyHandle* below);
  KeyHandle NewHandle(std::u16string_view path, KeyHandle below,
                      std::uint32_t access);
  // Whether the value is there as the run left it: 1 yes, 0 no, and the
  // status of the look below when that failed otherwise.
  Status ValueThere(const Handle& handle, std::u16string_view name);
  std::u16string InstanceId(DeviceSetHandle set, std::uint32_t index);
  // The file as Windows knows it, whichever way `path` spells it.
  std::u16string FileIdentity(std::u16string_view path);
  const KeptFile* KeptFileAt(std::u16string_view path);

  Platform& below_;
  bool read_where_write_refused_;
  std::map<std::u16string, KeptKey> keys_;  // by folded path
  std::map<KeyHandle, Handle> handles_;
  KeyHandle next_handle_ = 1;
  // Device properties as the run left them, by instance id and property:
  // the list written, or nothing (cleared).
  std::map<std::pair<std::u16string, std::uint32_t>, std::optional<std::string>>
      properties_;
  std::map<std::u16string, KeptFile> files_;  // by FileIdentity
  std::map<FileHandle, std::u16string> open_files_;
  FileHandle next_file_ = 1;
  std::vector<Change> changes_;
  std::set<std::u16string> refused_;
  // What the run appended to its log, which its file seems to hold after
  // what it held before.
  std::string appended_;
  std::vector<std::u16string> notices_;
};

}  // namespace tarvox
