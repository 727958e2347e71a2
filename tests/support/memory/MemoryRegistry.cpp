// The in-memory machine's registry: keys below HKEY_LOCAL_MACHINE with their
// values, handles with the access they were opened for, and the set-up and
// read-back methods the tests use.
#include <algorithm>
#include <cstring>

#include "support/memory/MemoryFold.h"
#include "support/memory/MemoryPlatform.h"
#include "platform/RegistryData.h"

namespace tarvox {
namespace {

using memory::Fold;

// Splits a registry path at its backslashes. A trailing backslash is allowed;
// an empty name inside the path is not.
std::optional<std::vector<std::u16string_view>> SplitKeyPath(
    std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  while (!path.empty()) {
    const std::size_t cut = path.find(u'\\');
    const std::u16string_view part = path.substr(0, cut);
    if (part.empty()) return std::nullopt;
    parts.push_back(part);
    if (cut == std::u16string_view::npos) break;
    path.remove_prefix(cut + 1);
  }
  return parts;
}

}  // namespace

MemoryPlatform::Key* MemoryPlatform::FindKey(std::u16string_view path) const {
  const auto parts = SplitKeyPath(path);
  if (!parts) return nullptr;
  const Key* key = &root_;
  for (const auto part : *parts) {
    const auto it = key->subkeys.find(Fold(part));
    if (it == key->subkeys.end()) return nullptr;
    key = it->second.get();
  }
  return const_cast<Key*>(key);
}

const MemoryPlatform::Key* MemoryPlatform::NearestKey(std::u16string_view path) const {
  const Key* key = &root_;
  for (const auto part : SplitKeyPath(path).value_or(std::vector<std::u16string_view>())) {
    const auto it = key->subkeys.find(Fold(part));
    if (it == key->subkeys.end()) break;
    key = it->second.get();
  }
  return key;
}

MemoryPlatform::Key* MemoryPlatform::MakeKey(std::u16string_view path) {
  const auto parts = SplitKeyPath(path);
  if (!parts) return nullptr;
  Key* key = &root_;
  for (const auto part : *parts) {
    auto& slot = key->subkeys[Fold(part)];
    if (!slot) {
      slot = std::make_unique<Key>();
      slot->name = std::u16string(part);
    }
    key = slot.get();
  }
  return key;
}

MemoryPlatform::Value* MemoryPlatform::FindValue(Key& key,
                                                 std::u16string_view name) {
  const std::u16string folded = Fold(name);
  for (auto& value : key.values) {
    if (Fold(value.name) == folded) return &value;
  }
  return nullptr;
}

KeyHandle MemoryPlatform::NewHandle(Key* key, std::uint32_t access,
                                    std::u16string_view path) {
  const KeyHandle handle = next_key_++;
  open_keys_[handle] = {key, access, std::u16string(path)};
  return handle;
}

std::u16string_view MemoryPlatform::PathOf(KeyHandle handle) const {
  const auto it = open_keys_.find(handle);
  return it == open_keys_.end() ? std::u16string_view() : it->second.path;
}

Status MemoryPlatform::Lookup(KeyHandle handle, std::uint32_t needed,
                              Key** key) const {
  const auto it = open_keys_.find(handle);
  if (it == open_keys_.end()) return 6;  // ERROR_INVALID_HANDLE
  if ((it->second.access & needed) != needed) return win::kAccessDenied;
  *key = it->second.key;
  return win::kSuccess;
}

Status MemoryPlatform::OpenKey(std::u16string_view path, std::uint32_t access,
                               KeyHandle* key) {
  if (Status fault = 0; Faulted(&fault, "OpenKey", path)) return fault;
  ++key_opens_;
  Key* found = FindKey(path);
  if (found == nullptr) return win::kFileNotFound;
  if ((found->denied_access & access) != 0) return win::kAccessDenied;
  *key = NewHandle(found, access, path);
  return win::kSuccess;
}

Status MemoryPlatform::CreateKey(std::u16string_view path,
                                 std::uint32_t access, KeyHandle* key, bool* created) {
  if (created != nullptr) *created = false;
  if (Status fault = 0; Faulted(&fault, "CreateKey", path)) return fault;
  ++key_opens_;
  Key* existing = FindKey(path);
  if (existing != nullptr && (existing->denied_access & access) != 0) {
    return win::kAccessDenied;
  }
  if (existing == nullptr) {
    // The missing keys are made below the nearest one there, which must
    // grant making subkeys, and may hold only volatile ones if it is
    // volatile itself.
    const Key* parent = NearestKey(path);
    if ((parent->denied_access & win::kKeyCreateSubKey) != 0) return win::kAccessDenied;
    if (parent->is_volatile) return win::kChildMustBeVolatile;
  }
  Key* made = existing != nullptr ? existing : MakeKey(path);
  if (made == nullptr) return 123;  // ERROR_INVALID_NAME
  *key = NewHandle(made, access, path);
  if (created != nullptr) *created = existing == nullptr;
  return win::kSuccess;
}

Status MemoryPlatform::QueryValue(KeyHandle handle, std::u16string_view name,
                                  std::uint32_t* type, void* data,
                                  std::uint32_t* size) {
  if (Status fault = 0; Faulted(&fault, "QueryValue", PathOf(handle), PathOf(handle), name)) return fault;
  Key* key = nullptr;
  if (const Status status = Lookup(handle, win::kKeyQueryValue, &key)) {
    return status;
  }
  const Value* value = FindValue(*key, name);
  if (value == nullptr) {
    return data != nullptr && size == nullptr ? win::kInvalidParameter
                                              : win::kFileNotFound;
  }
  if (const auto failing = key->read_failures.find(memory::Fold(name));
      failing != key->read_failures.end()) {
    return failing->second;
  }
  return registry_data::Answer(value->type, value->bytes, type, data, size);
}

Status MemoryPlatform::SetValue(KeyHandle handle, std::u16string_view name,
                                std::uint32_t type, const void* data,
                                std::uint32_t size) {
  if (Status fault = 0; Faulted(&fault, "SetValue", PathOf(handle), PathOf(handle), name)) return fault;
  Key* key = nullptr;
  if (const Status status = Lookup(handle, win::kKeySetValue, &key)) {
    return status;
  }
  if (key->write_failure != 0) return key->write_failure;
  if (data == nullptr && size != 0) return 998;  // ERROR_NOACCESS
  const std::string bytes(static_cast<const char*>(data),
                          registry_data::StoredSize(type, data, size));
  if (Value* value = FindValue(*key, name)) {
    value->type = type;
    value->bytes = bytes;
  } else {
    key->values.push_back({std::u16string(name), type, bytes});
  }
  return win::kSuccess;
}

Status MemoryPlatform::DeleteValue(KeyHandle handle,
                                   std::u16string_view name) {
  if (Status fault = 0; Faulted(&fault, "DeleteValue", PathOf(handle), PathOf(handle), name)) return fault;
  Key* key = nullptr;
  if (const Status status = Lookup(handle, win::kKeySetValue, &key)) {
    return status;
  }
  if (key->write_failure != 0) return key->write_failure;
  const std::u16string folded = Fold(name);
  const auto it =
      std::find_if(key->values.begin(), key->values.end(),
                   [&](const Value& value) { return Fold(value.name) == folded; });
  if (it == key->values.end()) return win::kFileNotFound;
  key->values.erase(it);
  return win::kSuccess;
}

namespace {

// The common part of the two enumerations: copy `text` and its NUL into
// `name` when it fits the capacity in `length`.
Status CopyEnumeratedName(std::u16string_view text, char16_t* name,
                          std::uint32_t* length) {
  if (name == nullptr || length == nullptr) return win::kInvalidParameter;
  if (text.size() + 1 > *length) return win::kMoreData;
  std::copy(text.begin(), text.end(), name);
  name[text.size()] = u'\0';
  *length = static_cast<std::uint32_t>(text.size());
  return win::kSuccess;
}

}  // namespace

Status MemoryPlatform::EnumKey(KeyHandle handle, std::uint32_t index,
                               char16_t* name, std::uint32_t* length) {
  if (Status fault = 0; Faulted(&fault, "EnumKey", PathOf(handle))) return fault;
  Key* key = nullptr;
  if (const Status status = Lookup(handle, win::kKeyEnumerateSubKeys, &key)) {
    return status;
  }
  if (index >= key->subkeys.size()) return win::kNoMoreItems;
  auto it = key->subkeys.begin();
  std::advance(it, index);
  return CopyEnumeratedName(it->second->name, name, length);
}

Status MemoryPlatform::EnumValue(KeyHandle handle, std::uint32_t index,
                                 char16_t* name, std::uint32_t* length) {
  if (Status fault = 0; Faulted(&fault, "EnumValue", PathOf(handle))) return fault;
  Key* key = nullptr;
  if (const Status status = Lookup(handle, win::kKeyQueryValue, &key)) {
    return status;
  }
  if (index >= key->values.size()) return win::kNoMoreItems;
  return CopyEnumeratedName(key->values[index].name, name, length);
}

Status MemoryPlatform::KeyName(KeyHandle handle, std::u16string* name) {
  if (Status fault = 0; Faulted(&fault, "KeyName", PathOf(handle))) return fault;
  const auto it = open_keys_.find(handle);
  if (it == open_keys_.end()) return 6;  // ERROR_INVALID_HANDLE
  *name = it->second.key->name;
  return win::kSuccess;
}

void MemoryPlatform::CloseKey(KeyHandle key) { open_keys_.erase(key); }

void MemoryPlatform::PutValue(std::u16string_view path,
                              std::u16string_view name, std::uint32_t type,
                              std::string_view bytes) {
  Key* key = MakeKey(path);
  if (Value* value = FindValue(*key, name)) {
    value->type = type;
    value->bytes = std::string(bytes);
  } else {
    key->values.push_back({std::u16string(name), type, std::string(bytes)});
  }
}

void MemoryPlatform::PutString(std::u16string_view path,
                               std::u16string_view name,
                               std::u16string_view text) {
  std::string bytes(reinterpret_cast<const char*>(text.data()),
                    text.size() * 2);
  bytes.append(2, '\0');
  PutValue(path, name, win::kRegSz, bytes);
}

void MemoryPlatform::PutMultiSz(std::u16string_view path,
                                std::u16string_view name,
                                const std::vector<std::u16string>& entries) {
  std::u16string units;
  for (const auto& entry : entries) {
    units += entry;
    units += u'\0';
  }
  units += u'\0';
  PutValue(path, name, win::kRegMultiSz,
           std::string(reinterpret_cast<const char*>(units.data()),
                       units.size() * 2));
}

void MemoryPlatform::PutDword(std::u16string_view path,
                              std::u16string_view name, std::uint32_t value) {
  PutValue(path, name, win::kRegDword,
           std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

void MemoryPlatform::PutKey(std::u16string_view path) { MakeKey(path); }

std::optional<MemoryPlatform::StoredValue> MemoryPlatform::GetValue(
    std::u16string_view path, std::u16string_view name) const {
  Key* key = FindKey(path);
  if (key == nullptr) return std::nullopt;
  const Value* value = FindValue(*key, name);
  if (value == nullptr) return std::nullopt;
  return StoredValue{value->type, value->bytes};
}

bool MemoryPlatform::KeyExists(std::u16string_view path) const {
  return FindKey(path) != nullptr;
}

namespace {

template <typename Key, typename Visit>
void WalkKeys(const Key& key, const std::u16string& path, const Visit& visit) {
  visit(key, path);
  for (const auto& [_, child] : key.subkeys) {
    WalkKeys(*child, path.empty() ? child->name : path + u"\\" + child->name,
             visit);
  }
}

}  // namespace

std::vector<MemoryPlatform::ValueAt> MemoryPlatform::AllValues() const {
  std::vector<ValueAt> values;
  WalkKeys(root_, u"", [&](const Key& key, const std::u16string& path) {
    for (const Value& value : key.values) {
      values.push_back({path, value.name, {value.type, value.bytes}});
    }
  });
  return values;
}

std::vector<std::u16string> MemoryPlatform::AllKeys() const {
  std::vector<std::u16string> keys;
  WalkKeys(root_, u"", [&](const Key&, const std::u16string& path) {
    if (!path.empty()) keys.push_back(path);
  });
  return keys;
}

void MemoryPlatform::DenyAccess(std::u16string_view path,
                                std::uint32_t access) {
  MakeKey(path)->denied_access |= access;
}

void MemoryPlatform::AllowAccess(std::u16string_view path) {
  if (Key* key = FindKey(path)) key->denied_access = 0;
}

void MemoryPlatform::MakeVolatile(std::u16string_view path) {
  MakeKey(path)->is_volatile = true;
}

std::uint32_t MemoryPlatform::DeniedAccess(std::u16string_view path) const {
  const Key* key = FindKey(path);
  return key == nullptr ? 0 : key->denied_access;
}

void MemoryPlatform::FailWrites(std::u16string_view path, Status status) {
  MakeKey(path)->write_failure = status;
}

void MemoryPlatform::FailReads(std::u16string_view path, std::u16string_view name,
                               Status status) {
  MakeKey(path)->read_failures[memory::Fold(name)] = status;
}

}  // namespace tarvox
