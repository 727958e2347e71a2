// An open registry key below HKEY_LOCAL_MACHINE that closes itself.
#pragma once

#include <utility>

#include "platform/Platform.h"

namespace tarvox {

class RegKey {
 public:
  explicit RegKey(Platform& os) : os_(&os) {}
  ~RegKey() { Close(); }

  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept
      : os_(other.os_), key_(std::exchange(other.key_, kNoKey)) {}
  RegKey& operator=(RegKey&& other) noexcept {
    if (this != &other) {
      Close();
      os_ = other.os_;
      key_ = std::exchange(other.key_, kNoKey);
    }
    return *this;
  }

  // Opens (or creates) `path`, closing whatever this object held before.
  Status Open(std::u16string_view path, std::uint32_t access) {
    Close();
    return os_->OpenKey(path, access, &key_);
  }
  // `*created`, when given: whether the key itself was made now.
  Status Create(std::u16string_view path, std::uint32_t access, bool* created = nullptr) {
    Close();
    return os_->CreateKey(path, access, &key_, created);
  }
  void Close() {
    if (key_ != kNoKey) os_->CloseKey(std::exchange(key_, kNoKey));
  }

  bool is_open() const { return key_ != kNoKey; }
  Platform& os() const { return *os_; }

  Status QueryValue(std::u16string_view name, std::uint32_t* type, void* data,
                    std::uint32_t* size) const {
    return os_->QueryValue(key_, name, type, data, size);
  }
  Status SetValue(std::u16string_view name, std::uint32_t type,
                  const void* data, std::uint32_t size) const {
    return os_->SetValue(key_, name, type, data, size);
  }
  Status DeleteValue(std::u16string_view name) const {
    return os_->DeleteValue(key_, name);
  }
  Status EnumKey(std::uint32_t index, char16_t* name,
                 std::uint32_t* length) const {
    return os_->EnumKey(key_, index, name, length);
  }
  Status EnumValue(std::uint32_t index, char16_t* name,
                   std::uint32_t* length) const {
    return os_->EnumValue(key_, index, name, length);
  }
  Status Name(std::u16string* name) const { return os_->KeyName(key_, name); }

 private:
  Platform* os_;
  KeyHandle key_ = kNoKey;
};

}  // namespace tarvox
