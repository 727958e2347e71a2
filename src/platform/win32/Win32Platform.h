// The platform operations as real Win32 calls. Text crosses into Windows as
// UTF-16 unchanged (wchar_t is 16 bits there).
#pragma once

#include <vector>

#include "platform/Platform.h"

namespace tarvox {

class Win32Platform final : public Platform {
 public:
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

 private:
  // The mutexes this process made, held until it ends.
  std::vector<void*> made_mutexes_;
};

}  // namespace tarvox
