// A platform that counts the calls a run makes, by kind, and passes each to
// the platform it wraps. Repeated runs in one process need the single-
// instance guard to let them in: the wrapper answers it itself.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "platform/Platform.h"

namespace tarvox::bench {

enum class Call {
  kKeyOpen, kValueQuery, kValueWrite, kKeyEnum, kDevice, kFile, kCount
};

inline const char* CallName(Call call) {
  static const char* const kNames[] = {"key opens", "value queries",
                                       "value writes", "enumerations",
                                       "device calls", "file calls"};
  return kNames[static_cast<int>(call)];
}

class CountingPlatform final : public Platform {
 public:
  explicit CountingPlatform(Platform& os) : os_(os) {}

  std::uint64_t count(Call call) const { return counts_[static_cast<int>(call)]; }
  // Milliseconds spent inside the calls of a kind.
  double milliseconds(Call call) const {
    return std::chrono::duration<double, std::milli>(spent_[static_cast<int>(call)]).count();
  }
  std::uint64_t total() const {
    std::uint64_t sum = 0;
    for (const auto n : counts_) sum += n;
    return sum;
  }
  void Reset() {
    counts_.fill(0);
    spent_.fill({});
  }

  Status OpenKey(std::u16string_view path, std::uint32_t access, KeyHandle* key) override {
    return Timed(Call::kKeyOpen, [&] { return os_.OpenKey(path, access, key); });
  }
  Status CreateKey(std::u16string_view path, std::uint32_t access, KeyHandle* key,
                   bool* created) override {
    return Timed(Call::kKeyOpen, [&] { return os_.CreateKey(path, access, key, created); });
  }
  Status KeyName(KeyHandle key, std::u16string* name) override {
    return Timed(Call::kValueQuery, [&] { return os_.KeyName(key, name); });
  }
  Status QueryValue(KeyHandle key, std::u16string_view name, std::uint32_t* type,
                    void* data, std::uint32_t* size) override {
    return Timed(Call::kValueQuery, [&] { return os_.QueryValue(key, name, type, data, size); });
  }
  Status SetValue(KeyHandle key, std::u16string_view name, std::uint32_t type,
                  const void* data, std::uint32_t size) override {
    return Timed(Call::kValueWrite, [&] { return os_.SetValue(key, name, type, data, size); });
  }
  Status DeleteValue(KeyHandle key, std::u16string_view name) override {
    return Timed(Call::kValueWrite, [&] { return os_.DeleteValue(key, name); });
  }
  Status EnumKey(KeyHandle key, std::uint32_t index, char16_t* name,
                 std::uint32_t* length) override {
    return Timed(Call::kKeyEnum, [&] { return os_.EnumKey(key, index, name, length); });
  }
  Status EnumValue(KeyHandle key, std::uint32_t index, char16_t* name,
                   std::uint32_t* length) override {
    return Timed(Call::kKeyEnum, [&] { return os_.EnumValue(key, index, name, length); });
  }
  // Closing is part of what an open costs: timed with the opens, not counted.
  void CloseKey(KeyHandle key) override {
    const auto start = std::chrono::steady_clock::now();
    os_.CloseKey(key);
    spent_[static_cast<int>(Call::kKeyOpen)] += std::chrono::steady_clock::now() - start;
  }

  DeviceSetHandle OpenCdromDevices() override {
    return Timed(Call::kDevice, [&] { return os_.OpenCdromDevices(); });
  }
  bool EnumDevice(DeviceSetHandle set, std::uint32_t index) override {
    return Timed(Call::kDevice, [&] { return os_.EnumDevice(set, index); });
  }
  Status GetDeviceProperty(DeviceSetHandle set, std::uint32_t index,
                           std::uint32_t property, std::uint32_t* type, void* data,
                           std::uint32_t capacity, std::uint32_t* size) override {
    return Timed(Call::kDevice, [&] { return os_.GetDeviceProperty(set, index, property, type, data, capacity, size); });
  }
  Status SetDeviceProperty(DeviceSetHandle set, std::uint32_t index,
                           std::uint32_t property, const void* data,
                           std::uint32_t size) override {
    return Timed(Call::kDevice, [&] { return os_.SetDeviceProperty(set, index, property, data, size); });
  }
  Status DeviceInstanceId(DeviceSetHandle set, std::uint32_t index,
                          std::u16string* id) override {
    return Timed(Call::kDevice, [&] { return os_.DeviceInstanceId(set, index, id); });
  }
  void CloseDevices(DeviceSetHandle set) override {
    const auto start = std::chrono::steady_clock::now();
    os_.CloseDevices(set);
    spent_[static_cast<int>(Call::kDevice)] += std::chrono::steady_clock::now() - start;
  }

  Status FindPath(std::u16string_view path) override {
    return Timed(Call::kFile, [&] { return os_.FindPath(path); });
  }
  Status GetAttributes(std::u16string_view path, std::uint32_t* attributes) override {
    return Timed(Call::kFile, [&] { return os_.GetAttributes(path, attributes); });
  }
  Status RenameFile(std::u16string_view from, std::u16string_view to) override {
    return Timed(Call::kFile, [&] { return os_.RenameFile(from, to); });
  }
  Status RenameReplacing(std::u16string_view from, std::u16string_view to) override {
    return Timed(Call::kFile, [&] { return os_.RenameReplacing(from, to); });
  }
  Status RemoveFile(std::u16string_view path) override {
    return Timed(Call::kFile, [&] { return os_.RemoveFile(path); });
  }
  Status FileLength(std::u16string_view path, std::uint64_t* length) override {
    return Timed(Call::kFile, [&] { return os_.FileLength(path, length); });
  }
  Status OpenAppendFile(std::u16string_view path, FileHandle* file,
                        bool* created) override {
    return Timed(Call::kFile, [&] { return os_.OpenAppendFile(path, file, created); });
  }
  Status AppendToFile(FileHandle file, std::string_view bytes) override {
    return Timed(Call::kFile, [&] { return os_.AppendToFile(file, bytes); });
  }
  void CloseFile(FileHandle file) override {
    const auto start = std::chrono::steady_clock::now();
    os_.CloseFile(file);
    spent_[static_cast<int>(Call::kFile)] += std::chrono::steady_clock::now() - start;
  }
  Status DescribeFile(std::u16string_view path, FileFacts* facts) override {
    return Timed(Call::kFile, [&] { return os_.DescribeFile(path, facts); });
  }
  std::string ToAnsi(std::u16string_view text) override { return os_.ToAnsi(text); }

  // Every run of the benchmark is let in.
  Status CreateNamedMutex(std::u16string_view, bool* held_here) override {
    *held_here = false;
    return win::kSuccess;
  }
  Status FindNamedMutex(std::u16string_view name) override { return os_.FindNamedMutex(name); }
  bool IsAdministrator() override { return os_.IsAdministrator(); }
  WindowsVersion OsVersion() override { return os_.OsVersion(); }
  bool NoticeCanBeSeen() override { return os_.NoticeCanBeSeen(); }
  std::u16string ComputerName() override { return os_.ComputerName(); }
  UtcTime Now() override { return os_.Now(); }
  std::optional<std::u16string> ReadEnvironment(std::u16string_view name) override {
    return os_.ReadEnvironment(name);
  }
  std::u16string CommandLine() override { return u"Tarvox.exe -silent"; }
  std::u16string ProgramBaseName() override { return os_.ProgramBaseName(); }
  std::u16string LoadMessage(std::uint32_t id) override { return os_.LoadMessage(id); }
  void ShowNotice(std::u16string_view, std::u16string_view, std::uint32_t) override {}

 private:
  template <typename F>
  std::invoke_result_t<F> Timed(Call call, F&& forward) {
    ++counts_[static_cast<int>(call)];
    const auto start = std::chrono::steady_clock::now();
    auto result = forward();
    spent_[static_cast<int>(call)] += std::chrono::steady_clock::now() - start;
    return result;
  }

  Platform& os_;
  std::array<std::uint64_t, static_cast<int>(Call::kCount)> counts_{};
  std::array<std::chrono::steady_clock::duration, static_cast<int>(Call::kCount)> spent_{};
};

}  // namespace tarvox::bench
