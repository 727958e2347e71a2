#include "platform/MemoryPlatform.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "resources/Catalogue.h"

namespace tarvox {
namespace {

constexpr std::u16string_view kEnumRoot = u"SYSTEM\\CurrentControlSet\\Enum";
constexpr std::u16string_view kCdromClassGuid =
    u"{4D36E965-E325-11CE-BFC1-08002BE10318}";

// Registry and environment names compare without regard to case. Windows
// folds all of Unicode; the in-memory machine folds the letters of ASCII and
// Latin-1, which is all its users spell. Lower case, as Wine orders subkeys.
char16_t FoldUnit(char16_t unit) {
  if (unit >= u'A' && unit <= u'Z') return static_cast<char16_t>(unit + 32);
  if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) {
    return static_cast<char16_t>(unit + 32);
  }
  return unit;
}

std::u16string Fold(std::u16string_view text) {
  std::u16string folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), FoldUnit);
  return folded;
}

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

bool IsStringType(std::uint32_t type) {
  return type == win::kRegSz || type == win::kRegExpandSz ||
         type == win::kRegMultiSz;
}

char16_t UnitAt(const void* data, std::size_t byte_offset) {
  char16_t unit;
  std::memcpy(&unit, static_cast<const unsigned char*>(data) + byte_offset,
              sizeof unit);
  return unit;
}

std::u16string_view PropertyValueName(std::uint32_t property) {
  if (property == win::kSpdrpLowerFilters) return u"LowerFilters";
  if (property == win::kSpdrpUpperFilters) return u"UpperFilters";
  return {};
}

}  // namespace

MemoryPlatform::MemoryPlatform() {
  environment_[Fold(u"SystemRoot")] = u"C:\\windows";
  AddFolder(u"C:\\windows\\system32\\drivers");
}

MemoryPlatform::~MemoryPlatform() = default;

// --- Registry ----------------------------------------------------------------

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

KeyHandle MemoryPlatform::NewHandle(Key* key, std::uint32_t access) {
  const KeyHandle handle = next_key_++;
  open_keys_[handle] = {key, access};
  return handle;
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
  ++key_opens_;
  Key* found = FindKey(path);
  if (found == nullptr) return win::kFileNotFound;
  if ((found->denied_access & access) != 0) return win::kAccessDenied;
  *key = NewHandle(found, access);
  return win::kSuccess;
}

Status MemoryPlatform::CreateKey(std::u16string_view path,
                                 std::uint32_t access, KeyHandle* key) {
  ++key_opens_;
  Key* existing = FindKey(path);
  if (existing != nullptr && (existing->denied_access & access) != 0) {
    return win::kAccessDenied;
  }
  Key* made = existing != nullptr ? existing : MakeKey(path);
  if (made == nullptr) return 123;  // ERROR_INVALID_NAME
  *key = NewHandle(made, access);
  return win::kSuccess;
}

Status MemoryPlatform::QueryValue(KeyHandle handle, std::u16string_view name,
                                  std::uint32_t* type, void* data,
                                  std::uint32_t* size) {
  Key* key = nullptr;
  if (const Status status = Lookup(handle, win::kKeyQueryValue, &key)) {
    return status;
  }
  if (data != nullptr && size == nullptr) return win::kInvalidParameter;
  const Value* value = FindValue(*key, name);
  if (value == nullptr) return win::kFileNotFound;
  const auto stored = static_cast<std::uint32_t>(value->bytes.size());
  if (type != nullptr) *type = value->type;
  if (size == nullptr) return win::kSuccess;
  if (data != nullptr) {
    const std::uint32_t capacity = *size;
    if (capacity < stored) {
      *size = stored;
      return win::kMoreData;  // the buffer is left as it was
    }
    std::memcpy(data, value->bytes.data(), stored);
    // Like Windows, a string whose last unit is not NUL gets a NUL unit after
    // it when the buffer has room; the size returned does not count it.
    if (IsStringType(value->type) && stored >= 2 &&
        std::size_t{stored} + 2 <= capacity && UnitAt(data, stored - 2) != 0) {
      std::memset(static_cast<unsigned char*>(data) + stored, 0, 2);
    }
  }
  *size = stored;
  return win::kSuccess;
}

Status MemoryPlatform::SetValue(KeyHandle handle, std::u16string_view name,
                                std::uint32_t type, const void* data,
                                std::uint32_t size) {
  Key* key = nullptr;
  if (const Status status = Lookup(handle, win::kKeySetValue, &key)) {
    return status;
  }
  if (key->write_failure != 0) return key->write_failure;
  if (data == nullptr && size != 0) return 998;  // ERROR_NOACCESS
  // Windows stores the NUL that follows string data the caller forgot to
  // count.
  if (IsStringType(type) && size >= 2 && UnitAt(data, (size / 2 - 1) * 2) != 0 &&
      UnitAt(data, (size / 2) * 2) == 0) {
    size += 2;
  }
  const std::string bytes(static_cast<const char*>(data), size);
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
  Key* key = nullptr;
  if (const Status status = Lookup(handle, win::kKeyQueryValue, &key)) {
    return status;
  }
  if (index >= key->values.size()) return win::kNoMoreItems;
  return CopyEnumeratedName(key->values[index].name, name, length);
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

void MemoryPlatform::DenyAccess(std::u16string_view path,
                                std::uint32_t access) {
  MakeKey(path)->denied_access |= access;
}

void MemoryPlatform::FailWrites(std::u16string_view path, Status status) {
  MakeKey(path)->write_failure = status;
}

// --- Devices -------------------------------------------------------------------
// A device is a key three levels below the device tree (enumerator, device,
// instance) whose "ClassGUID" names the CD-ROM class; its filter properties
// are that key's "LowerFilters" and "UpperFilters" values, as in Windows.

void MemoryPlatform::AddCdromDevice(std::u16string_view instance) {
  std::u16string path(kEnumRoot);
  path += u'\\';
  path += instance;
  PutString(path, u"ClassGUID", kCdromClassGuid);
}

DeviceSetHandle MemoryPlatform::OpenCdromDevices() {
  std::vector<std::u16string> devices;
  if (const Key* tree = FindKey(kEnumRoot)) {
    for (const auto& [_, enumerator] : tree->subkeys) {
      for (const auto& [__, device] : enumerator->subkeys) {
        for (const auto& [___, instance] : device->subkeys) {
          const Value* guid =
              FindValue(*instance, u"ClassGUID");
          if (guid == nullptr || guid->type != win::kRegSz) continue;
          std::u16string text(guid->bytes.size() / 2, u'\0');
          std::memcpy(text.data(), guid->bytes.data(), text.size() * 2);
          text.resize(std::min(text.find(u'\0'), text.size()));
          if (Fold(text) != Fold(kCdromClassGuid)) continue;
          devices.push_back(std::u16string(kEnumRoot) + u"\\" +
                            enumerator->name + u"\\" + device->name + u"\\" +
                            instance->name);
        }
      }
    }
  }
  const DeviceSetHandle set = next_device_set_++;
  device_sets_[set] = std::move(devices);
  return set;
}

std::u16string MemoryPlatform::DeviceInstancePath(DeviceSetHandle set,
                                                  std::uint32_t index) const {
  const auto it = device_sets_.find(set);
  if (it == device_sets_.end() || index >= it->second.size()) return {};
  return it->second[index];
}

bool MemoryPlatform::EnumDevice(DeviceSetHandle set, std::uint32_t index) {
  return !DeviceInstancePath(set, index).empty();
}

Status MemoryPlatform::GetDeviceProperty(DeviceSetHandle set,
                                         std::uint32_t index,
                                         std::uint32_t property,
                                         std::uint32_t* type, void* data,
                                         std::uint32_t capacity) {
  const std::u16string instance = DeviceInstancePath(set, index);
  const std::u16string_view name = PropertyValueName(property);
  if (instance.empty() || name.empty()) return win::kInvalidParameter;
  const Key* key = FindKey(instance);
  const Value* value =
      key != nullptr ? FindValue(*const_cast<Key*>(key), name) : nullptr;
  if (value == nullptr) return win::kInvalidData;
  if (type != nullptr) *type = value->type;
  if (value->bytes.size() > capacity || data == nullptr) {
    return win::kInsufficientBuffer;
  }
  std::memcpy(data, value->bytes.data(), value->bytes.size());
  return win::kSuccess;
}

Status MemoryPlatform::SetDeviceProperty(DeviceSetHandle set,
                                         std::uint32_t index,
                                         std::uint32_t property,
                                         const void* data, std::uint32_t size) {
  const std::u16string instance = DeviceInstancePath(set, index);
  const std::u16string_view name = PropertyValueName(property);
  if (instance.empty() || name.empty()) return win::kInvalidParameter;
  Key* key = MakeKey(instance);
  if (data == nullptr || size == 0) {
    // Windows deletes the value; Wine leaves an empty one. Callers accept
    // both.
    const std::u16string folded = Fold(name);
    std::erase_if(key->values, [&](const Value& value) {
      return Fold(value.name) == folded;
    });
    return win::kSuccess;
  }
  const std::string bytes(static_cast<const char*>(data), size);
  if (Value* value = FindValue(*key, name)) {
    value->type = win::kRegMultiSz;
    value->bytes = bytes;
  } else {
    key->values.push_back({std::u16string(name), win::kRegMultiSz, bytes});
  }
  return win::kSuccess;
}

void MemoryPlatform::CloseDevices(DeviceSetHandle set) {
  device_sets_.erase(set);
}

// --- Files ----------------------------------------------------------------------

MemoryPlatform::Node MemoryPlatform::NewNode(std::u16string_view path,
                                            bool folder) {
  Node node;
  node.path = std::u16string(path);
  node.folder = folder;
  return node;
}

std::u16string MemoryPlatform::Normalize(std::u16string_view path) const {
  std::u16string text(path);
  std::replace(text.begin(), text.end(), u'/', u'\\');
  // Make it absolute: the current folder is the root of drive C.
  if (text.size() >= 2 && text[1] == u':') {
    if (text.size() == 2 || text[2] != u'\\') text.insert(2, u"\\");
  } else if (!text.empty() && text[0] == u'\\') {
    text.insert(0, u"C:");
  } else {
    text.insert(0, u"C:\\");
  }
  // Resolve the parts after the drive.
  std::vector<std::u16string> parts;
  std::size_t at = 3;
  while (at <= text.size()) {
    const std::size_t cut = std::min(text.find(u'\\', at), text.size());
    const std::u16string part = text.substr(at, cut - at);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    at = cut + 1;
  }
  std::u16string result = text.substr(0, 2);
  for (const auto& part : parts) result += u"\\" + part;
  // A name that ends in a separator names no file.
  if (text.size() > 3 && text.back() == u'\\') result += u'\\';
  if (parts.empty()) result += u'\\';
  return result;
}

std::u16string MemoryPlatform::FoldPath(std::u16string_view normalized) {
  return Fold(normalized);
}

std::u16string MemoryPlatform::ParentOf(std::u16string_view normalized) {
  const std::size_t cut = normalized.rfind(u'\\');
  if (cut == std::u16string_view::npos || cut <= 2) {
    return std::u16string(normalized.substr(0, 3));
  }
  return std::u16string(normalized.substr(0, cut));
}

bool MemoryPlatform::ParentFolderExists(
    std::u16string_view normalized) const {
  if (normalized.back() == u'\\') return false;  // no name after the folder
  const std::u16string parent = ParentOf(normalized);
  if (parent.size() <= 3) return true;  // the root of a drive
  const Node* folder = FindNode(parent);
  return folder != nullptr && folder->folder;
}

const MemoryPlatform::Node* MemoryPlatform::FindNode(
    std::u16string_view path) const {
  const std::u16string normalized = Normalize(path);
  if (normalized.size() > 3 && normalized.back() == u'\\') return nullptr;
  const auto it = files_.find(FoldPath(normalized));
  return it == files_.end() ? nullptr : &it->second;
}

MemoryPlatform::Node* MemoryPlatform::FindNode(std::u16string_view path) {
  return const_cast<Node*>(std::as_const(*this).FindNode(path));
}

bool MemoryPlatform::PathExists(std::u16string_view path) {
  if (path.find_first_of(u"*?") != std::u16string_view::npos) return false;
  return FindNode(path) != nullptr;
}

Status MemoryPlatform::RenameFile(std::u16string_view from,
                                  std::u16string_view to) {
  Node* source = FindNode(from);
  if (source == nullptr) return win::kFileNotFound;
  if (FindNode(to) != nullptr) return win::kAlreadyExists;
  const std::u16string target = Normalize(to);
  if (!ParentFolderExists(target)) return win::kPathNotFound;
  if (source->held_exclusively || source->open_for_write > 0) {
    return win::kSharingViolation;
  }
  Node moved = *source;
  moved.path = target;
  files_.erase(FoldPath(Normalize(from)));
  files_[FoldPath(target)] = std::move(moved);
  return win::kSuccess;
}

Status MemoryPlatform::RemoveFile(std::u16string_view path) {
  Node* node = FindNode(path);
  if (node == nullptr) return win::kFileNotFound;
  if (node->folder || node->read_only) return win::kAccessDenied;
  if (node->held_exclusively || node->open_for_write > 0) {
    return win::kSharingViolation;
  }
  files_.erase(FoldPath(Normalize(path)));
  return win::kSuccess;
}

Status MemoryPlatform::FileLength(std::u16string_view path,
                                  std::uint64_t* length) {
  const Node* node = FindNode(path);
  if (node == nullptr) return win::kFileNotFound;
  if (node->folder) return win::kAccessDenied;
  if (node->held_exclusively) return win::kSharingViolation;
  *length = node->bytes.size();
  return win::kSuccess;
}

Status MemoryPlatform::CreateWriteFile(std::u16string_view path,
                                       FileHandle* file) {
  const std::u16string normalized = Normalize(path);
  if (!ParentFolderExists(normalized)) return win::kPathNotFound;
  const std::u16string key = FoldPath(normalized);
  auto it = files_.find(key);
  if (it != files_.end()) {
    Node& node = it->second;
    if (node.folder || node.read_only) return win::kAccessDenied;
    if (node.held_exclusively) return win::kSharingViolation;
    node.bytes.clear();
  } else {
    it = files_.emplace(key, NewNode(normalized, false)).first;
  }
  ++it->second.open_for_write;
  *file = next_file_++;
  open_files_[*file] = {key};
  return win::kSuccess;
}

Status MemoryPlatform::AppendToFile(FileHandle file, std::string_view bytes) {
  const auto it = open_files_.find(file);
  if (it == open_files_.end()) return 6;  // ERROR_INVALID_HANDLE
  files_.at(it->second.key).bytes += bytes;
  return win::kSuccess;
}

void MemoryPlatform::CloseFile(FileHandle file) {
  const auto it = open_files_.find(file);
  if (it == open_files_.end()) return;
  const auto node = files_.find(it->second.key);
  if (node != files_.end()) --node->second.open_for_write;
  open_files_.erase(it);
}

std::string MemoryPlatform::ToAnsi(std::u16string_view text) {
  // Windows-1252 and Latin-1 agree on ASCII and on U+00A0 to U+00FF; the
  // in-memory machine holds just those.
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
      bytes += static_cast<char>(unit);
    } else {
      // A surrogate pair is one character, so one '?'.
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
          text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
      }
      bytes += '?';
    }
  }
  return bytes;
}

void MemoryPlatform::AddFolder(std::u16string_view path) {
  const std::u16string normalized = Normalize(path);
  if (normalized.size() <= 3) return;
  AddFolder(ParentOf(normalized));
  files_.try_emplace(FoldPath(normalized), NewNode(normalized, true));
}

void MemoryPlatform::AddFile(std::u16string_view path, std::string_view bytes) {
  const std::u16string normalized = Normalize(path);
  AddFolder(ParentOf(normalized));
  Node& node = files_[FoldPath(normalized)];
  node = NewNode(normalized, false);
  node.bytes = std::string(bytes);
}

void MemoryPlatform::SetReadOnly(std::u16string_view path, bool read_only) {
  if (Node* node = FindNode(path)) node->read_only = read_only;
}

void MemoryPlatform::HoldExclusively(std::u16string_view path) {
  if (Node* node = FindNode(path)) node->held_exclusively = true;
}

std::optional<std::string> MemoryPlatform::FileBytes(
    std::u16string_view path) const {
  const Node* node = FindNode(path);
  if (node == nullptr || node->folder) return std::nullopt;
  return node->bytes;
}

bool MemoryPlatform::FileExists(std::u16string_view path) const {
  const Node* node = FindNode(path);
  return node != nullptr && !node->folder;
}

std::vector<std::u16string> MemoryPlatform::AllFiles() const {
  std::vector<std::u16string> paths;
  for (const auto& [_, node] : files_) {
    if (!node.folder) paths.push_back(node.path);
  }
  return paths;
}

// --- Process ---------------------------------------------------------------------

Status MemoryPlatform::CreateNamedMutex(std::u16string_view name) {
  return mutexes_.insert(std::u16string(name)).second ? win::kSuccess
                                                      : win::kAlreadyExists;
}

void MemoryPlatform::HoldMutex(std::u16string_view name) {
  mutexes_.insert(std::u16string(name));
}

std::uint32_t MemoryPlatform::OsMajorVersion() { return os_major_; }

std::optional<std::u16string> MemoryPlatform::ReadEnvironment(
    std::u16string_view name) {
  const auto it = environment_.find(Fold(name));
  if (it == environment_.end()) return std::nullopt;
  return it->second;
}

void MemoryPlatform::SetEnvironment(std::u16string_view name,
                                    std::optional<std::u16string> value) {
  if (value) {
    environment_[Fold(name)] = std::move(*value);
  } else {
    environment_.erase(Fold(name));
  }
}

std::u16string MemoryPlatform::CommandLine() { return command_line_; }

std::u16string MemoryPlatform::ProgramBaseName() { return program_name_; }

std::u16string MemoryPlatform::LoadMessage(std::uint32_t id) {
  for (const auto& entry : kCatalogue) {
    if (entry.id == id) return entry.text;
  }
  return {};
}

void MemoryPlatform::ShowNotice(std::u16string_view text,
                                std::u16string_view caption,
                                std::uint32_t style) {
  notices_.push_back({std::u16string(text), std::u16string(caption), style});
}

void MemoryPlatform::EndProcess(int code) {
  // Files are closed as the runtime library's exit would close them.
  for (const auto& [_, open] : open_files_) {
    const auto node = files_.find(open.key);
    if (node != files_.end()) --node->second.open_for_write;
  }
  open_files_.clear();
  throw ProcessEnded{code};
}

}  // namespace tarvox
