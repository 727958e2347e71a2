#include "platform/overlay/OverlayPlatform.h"

#include <algorithm>
#include <cstring>

#include "platform/RegKey.h"
#include "platform/RegistryData.h"

namespace tarvox {
namespace {

// Registry names and file names compare without regard to case. The names a
// run writes are the tool's own and ASCII; folding A to Z finds them again.
std::u16string Fold(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& unit : folded) {
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 32);
  }
  return folded;
}

std::u16string FoldKeyPath(std::u16string_view path) {
  while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  return Fold(path);
}

std::u16string FoldFilePath(std::u16string_view path) {
  std::u16string folded = Fold(path);
  std::replace(folded.begin(), folded.end(), u'/', u'\\');
  return folded;
}

}  // namespace

OverlayPlatform::OverlayPlatform(Platform& below, bool read_where_write_refused)
    : below_(below), read_where_write_refused_(read_where_write_refused) {}

OverlayPlatform::~OverlayPlatform() {
  for (const auto& [_, handle] : handles_) {
    if (handle.below != kNoKey) below_.CloseKey(handle.below);
  }
}

// --- Registry ------------------------------------------------------------------

OverlayPlatform::KeptKey& OverlayPlatform::Kept(std::u16string_view path) {
  KeptKey& kept = keys_[FoldKeyPath(path)];
  if (kept.path.empty()) kept.path = std::u16string(path);
  return kept;
}

const OverlayPlatform::Handle* OverlayPlatform::Find(KeyHandle key) const {
  const auto it = handles_.find(key);
  return it == handles_.end() ? nullptr : &it->second;
}

Status OverlayPlatform::OpenBelow(std::u16string_view path, std::uint32_t access,
                                  KeyHandle* below) {
  const Status status = below_.OpenKey(path, access, below);
  if (status != win::kAccessDenied || !read_where_write_refused_ ||
      (access & win::kKeySetValue) == 0) {
    return status;
  }
  // Refused for changes: read it all the same, as a run with the rights to
  // change it would see it.
  if (below_.OpenKey(path, access & ~win::kKeySetValue, below) != win::kSuccess) {
    return status;
  }
  refused_.insert(std::u16string(path));
  return win::kSuccess;
}

KeyHandle OverlayPlatform::NewHandle(std::u16string_view path, KeyHandle below,
                                     std::uint32_t access) {
  Kept(path);
  const KeyHandle handle = next_handle_++;
  handles_[handle] = {FoldKeyPath(path), below, access};
  return handle;
}

Status OverlayPlatform::OpenKey(std::u16string_view path, std::uint32_t access,
                                KeyHandle* key) {
  const auto kept = keys_.find(FoldKeyPath(path));
  if (kept != keys_.end() && kept->second.created) {
    *key = NewHandle(path, kNoKey, access);
    return win::kSuccess;
  }
  KeyHandle below = kNoKey;
  if (const Status status = OpenBelow(path, access, &below)) return status;
  *key = NewHandle(path, below, access);
  return win::kSuccess;
}

Status OverlayPlatform::CreateKey(std::u16string_view path, std::uint32_t access,
                                  KeyHandle* key, bool* created) {
  if (created != nullptr) *created = false;
  const Status opened = OpenKey(path, access, key);
  if (opened != win::kFileNotFound) return opened;
  // Windows makes every missing key along the path, below the nearest one
  // there, which must let subkeys be made: asked for that right, it tells
  // beforehand. (Whether it is volatile, and so takes only volatile
  // subkeys, no read tells: the report says such a key is attempted.)
  std::vector<std::u16string_view> missing{path};  // the deepest first
  for (std::u16string_view at = path;;) {
    const std::size_t cut = at.rfind(u'\\');
    if (cut == std::u16string_view::npos) break;  // below the root itself
    at = at.substr(0, cut);
    const auto kept = keys_.find(FoldKeyPath(at));
    if (kept != keys_.end() && kept->second.created) break;
    KeyHandle parent = kNoKey;
    const Status status = below_.OpenKey(at, win::kKeyCreateSubKey, &parent);
    if (status == win::kSuccess) {
      below_.CloseKey(parent);
      break;
    }
    if (status == win::kAccessDenied && read_where_write_refused_) {
      refused_.insert(std::u16string(at));  // as an administrator would
      break;
    }
    if (status != win::kFileNotFound) return status;
    missing.push_back(at);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    KeptKey& kept = Kept(*it);
    kept.created = true;
    changes_.push_back({Change::Kind::kKeyCreated, kept.path, {}, 0, 0, {}});
  }
  *key = NewHandle(path, kNoKey, access);
  if (created != nullptr) *created = true;
  return win::kSuccess;
}

Status OverlayPlatform::ValueThere(const Handle& handle, std::u16string_view name) {
  const KeptKey& kept = keys_.at(handle.key);
  if (const auto it = kept.values.find(Fold(name)); it != kept.values.end()) {
    return it->second.deleted ? win::kFileNotFound : win::kSuccess;
  }
  if (handle.below == kNoKey) return win::kFileNotFound;
  std::uint32_t size = 0;
  return below_.QueryValue(handle.below, name, nullptr, nullptr, &size);
}

Status OverlayPlatform::QueryValue(KeyHandle key, std::u16string_view name,
                                   std::uint32_t* type, void* data,
                                   std::uint32_t* size) {
  const Handle* handle = Find(key);
  if (handle == nullptr) return 6;  // ERROR_INVALID_HANDLE
  if ((handle->access & win::kKeyQueryValue) == 0) return win::kAccessDenied;
  const KeptKey& kept = keys_.at(handle->key);
  if (const auto it = kept.values.find(Fold(name)); it != kept.values.end()) {
    if (it->second.deleted) return win::kFileNotFound;
    return registry_data::Answer(it->second.type, it->second.bytes, type, data, size);
  }
  if (handle->below == kNoKey) return win::kFileNotFound;
  return below_.QueryValue(handle->below, name, type, data, size);
}

Status OverlayPlatform::SetValue(KeyHandle key, std::u16string_view name,
                                 std::uint32_t type, const void* data,
                                 std::uint32_t size) {
  const Handle* handle = Find(key);
  if (handle == nullptr) return 6;
  if ((handle->access & win::kKeySetValue) == 0) return win::kAccessDenied;
  if (data == nullptr && size != 0) return 998;  // ERROR_NOACCESS
  size = registry_data::StoredSize(type, data, size);
  KeptKey& kept = keys_.at(handle->key);
  const std::u16string folded = Fold(name);
  if (kept.values.count(folded) == 0) kept.order.push_back(folded);
  KeptValue& value = kept.values[folded];
  value = {std::u16string(name), type,
           std::string(static_cast<const char*>(data), size), false};
  changes_.push_back({Change::Kind::kValueSet, kept.path, value.name, type, 0,
                      value.bytes});
  return win::kSuccess;
}

Status OverlayPlatform::DeleteValue(KeyHandle key, std::u16string_view name) {
  const Handle* handle = Find(key);
  if (handle == nullptr) return 6;
  if ((handle->access & win::kKeySetValue) == 0) return win::kAccessDenied;
  if (const Status there = ValueThere(*handle, name)) return there;
  KeptKey& kept = keys_.at(handle->key);
  const std::u16string folded = Fold(name);
  if (kept.values.count(folded) == 0) kept.order.push_back(folded);
  kept.values[folded] = {std::u16string(name), 0, {}, true};
  changes_.push_back({Change::Kind::kValueDeleted, kept.path, std::u16string(name),
                      0, 0, {}});
  return win::kSuccess;
}

Status OverlayPlatform::EnumKey(KeyHandle key, std::uint32_t index,
                                char16_t* name, std::uint32_t* length) {
  const Handle* handle = Find(key);
  if (handle == nullptr) return 6;
  if (handle->below == kNoKey) return win::kNoMoreItems;
  return below_.EnumKey(handle->below, index, name, length);
}

Status OverlayPlatform::EnumValue(KeyHandle key, std::uint32_t index,
                                  char16_t* name, std::uint32_t* length) {
  const Handle* handle = Find(key);
  if (handle == nullptr) return 6;
  if ((handle->access & win::kKeyQueryValue) == 0) return win::kAccessDenied;
  if (name == nullptr || length == nullptr) return win::kInvalidParameter;
  const KeptKey& kept = keys_.at(handle->key);
  // The names below, less those the run deleted, then those the run wrote
  // that were not there. A name below that cannot be read ends the list
  // with the error it gave.
  std::vector<std::u16string> names;
  std::set<std::u16string> below_names;
  Status below_end = win::kNoMoreItems;
  if (handle->below != kNoKey) {
    std::u16string buffer(16384, u'\0');
    for (std::uint32_t at = 0;; ++at) {
      std::uint32_t units = static_cast<std::uint32_t>(buffer.size());
      const Status status = below_.EnumValue(handle->below, at, buffer.data(), &units);
      if (status != win::kSuccess) {
        below_end = status;
        break;
      }
      const std::u16string found(buffer.data(), std::min<std::size_t>(units, buffer.size()));
      below_names.insert(Fold(found));
      const auto it = kept.values.find(Fold(found));
      if (it == kept.values.end() || !it->second.deleted) names.push_back(found);
    }
  }
  if (below_end != win::kNoMoreItems && index >= names.size()) return below_end;
  for (const auto& folded : kept.order) {
    const KeptValue& value = kept.values.at(folded);
    if (!value.deleted && below_names.count(folded) == 0) names.push_back(value.name);
  }
  if (index >= names.size()) return win::kNoMoreItems;
  const std::u16string& found = names[index];
  if (found.size() + 1 > *length) return win::kMoreData;
  std::copy(found.begin(), found.end(), name);
  name[found.size()] = u'\0';
  *length = static_cast<std::uint32_t>(found.size());
  return win::kSuccess;
}

Status OverlayPlatform::KeyName(KeyHandle key, std::u16string* name) {
  const Handle* handle = Find(key);
  if (handle == nullptr) return 6;
  if (handle->below != kNoKey) return below_.KeyName(handle->below, name);
  const std::u16string& path = keys_.at(handle->key).path;
  *name = path.substr(path.rfind(u'\\') + 1);
  return win::kSuccess;
}

void OverlayPlatform::CloseKey(KeyHandle key) {
  const auto it = handles_.find(key);
  if (it == handles_.end()) return;
  if (it->second.below != kNoKey) below_.CloseKey(it->second.below);
  handles_.erase(it);
}

// --- Devices -------------------------------------------------------------------

DeviceSetHandle OverlayPlatform::OpenCdromDevices() { return below_.OpenCdromDevices(); }

bool OverlayPlatform::EnumDevice(DeviceSetHandle set, std::uint32_t index) {
  return below_.EnumDevice(set, index);
}

std::u16string OverlayPlatform::InstanceId(DeviceSetHandle set, std::uint32_t index) {
  std::u16string id;
  return below_.DeviceInstanceId(set, index, &id) == win::kSuccess ? Fold(id)
                                                                    : std::u16string();
}

Status OverlayPlatform::GetDeviceProperty(DeviceSetHandle set, std::uint32_t index,
                                          std::uint32_t property, std::uint32_t* type,
                                          void* data, std::uint32_t capacity,
                                          std::uint32_t* size) {
  const auto kept = properties_.find({InstanceId(set, index), property});
  if (kept == properties_.end()) {
    return below_.GetDeviceProperty(set, index, property, type, data, capacity, size);
  }
  // Cleared: as a device without the property.
  if (!kept->second) return win::kInvalidData;
  const std::string& bytes = *kept->second;
  if (type != nullptr) *type = win::kRegMultiSz;
  if (size != nullptr) *size = static_cast<std::uint32_t>(bytes.size());
  if (data == nullptr || bytes.size() > capacity) return win::kInsufficientBuffer;
  std::memcpy(data, bytes.data(), bytes.size());
  return win::kSuccess;
}

Status OverlayPlatform::SetDeviceProperty(DeviceSetHandle set, std::uint32_t index,
                                          std::uint32_t property, const void* data,
                                          std::uint32_t size) {
  std::u16string id;
  if (const Status status = below_.DeviceInstanceId(set, index, &id)) return status;
  const bool cleared = data == nullptr || size == 0;
  std::optional<std::string> bytes;
  if (!cleared) bytes = std::string(static_cast<const char*>(data), size);
  properties_[{Fold(id), property}] = bytes;
  changes_.push_back({cleared ? Change::Kind::kPropertyCleared : Change::Kind::kPropertySet,
                      id, {}, win::kRegMultiSz, property, bytes.value_or("")});
  return win::kSuccess;
}

Status OverlayPlatform::DeviceInstanceId(DeviceSetHandle set, std::uint32_t index,
                                         std::u16string* id) {
  return below_.DeviceInstanceId(set, index, id);
}

void OverlayPlatform::CloseDevices(DeviceSetHandle set) { below_.CloseDevices(set); }

// --- Files ----------------------------------------------------------------------

std::u16string OverlayPlatform::FileIdentity(std::u16string_view path) {
  // Windows takes many spellings for one file ('.', '..', '/', letter case,
  // short names): a file the run moved is known by what it is, as Windows
  // knows it. A path whose facts cannot be had is known by its text.
  FileFacts facts;
  return below_.DescribeFile(path, &facts) == win::kSuccess ? facts.identity
                                                           : u"?" + FoldFilePath(path);
}

const OverlayPlatform::KeptFile* OverlayPlatform::KeptFileAt(std::u16string_view path) {
  if (files_.empty()) return nullptr;  // nothing moved: nothing to ask
  const auto it = files_.find(FileIdentity(path));
  return it == files_.end() ? nullptr : &it->second;
}

Status OverlayPlatform::FindPath(std::u16string_view path) {
  if (NamesOf(path).find_first_of(kSearchWildcards) != std::u16string_view::npos) {
    return win::kInvalidName;
  }
  if (path.empty() || path.back() == u'\\' || path.back() == u'/') {
    return win::kFileNotFound;
  }
  if (const KeptFile* kept = KeptFileAt(path)) {
    return kept->present ? win::kSuccess : win::kFileNotFound;
  }
  return below_.FindPath(path);
}

Status OverlayPlatform::GetAttributes(std::u16string_view path,
                                      std::uint32_t* attributes) {
  if (const KeptFile* kept = KeptFileAt(path)) {
    return kept->present ? below_.GetAttributes(kept->source, attributes)
                         : win::kFileNotFound;
  }
  return below_.GetAttributes(path, attributes);
}

Status OverlayPlatform::RenameFile(std::u16string_view from, std::u16string_view to) {
  if (const Status there = FindPath(from)) return there;
  if (FindPath(to) == win::kSuccess) return win::kAlreadyExists;
  const KeptFile* kept = KeptFileAt(from);
  const std::u16string source = kept != nullptr ? kept->source : std::u16string(from);
  // A file another program holds open without sharing its deletion (a virus
  // scanner, a backup agent) cannot be moved: asked now, it tells so.
  FileFacts facts;
  if (below_.DescribeFile(source, &facts) == win::kSuccess && facts.exists &&
      (facts.movable == win::kSharingViolation || facts.movable == win::kAccessDenied)) {
    return facts.movable;
  }
  const std::u16string to_identity = FileIdentity(to);
  files_[FileIdentity(from)] = {false, {}};
  files_[to_identity] = {true, source};
  changes_.push_back({Change::Kind::kFileRenamed, std::u16string(from),
                      std::u16string(to), 0, 0, {}});
  return win::kSuccess;
}

Status OverlayPlatform::DescribeFile(std::u16string_view path, FileFacts* facts) {
  return below_.DescribeFile(path, facts);
}

// The log's own file operations: a run on the overlay keeps its lines in
// memory and moves or removes no file for them.
Status OverlayPlatform::RenameReplacing(std::u16string_view, std::u16string_view) {
  return win::kSuccess;
}

Status OverlayPlatform::RemoveFile(std::u16string_view) { return win::kSuccess; }

Status OverlayPlatform::FileLength(std::u16string_view path, std::uint64_t* length) {
  std::uint64_t below = 0;
  const Status status = below_.FileLength(path, &below);
  for (const auto& [_, open] : open_files_) {
    if (FoldFilePath(open) == FoldFilePath(path)) {
      *length = (status == win::kSuccess ? below : 0) + appended_.size();
      return win::kSuccess;
    }
  }
  if (status == win::kSuccess) *length = below;
  return status;
}

Status OverlayPlatform::OpenAppendFile(std::u16string_view path, FileHandle* file,
                                       bool* created) {
  // As the run would open it: never through a link or a second name, and
  // as Windows opens a file for writing: never a read-only one, nor one
  // another program holds without sharing writing. (Wine run as root opens
  // a read-only file all the same; Windows does not, and the run then has
  // no log.) A refusal by the file's security is foreseen only for a check
  // with the rights a repair has.
  std::uint32_t attributes = 0;
  const Status found = below_.GetAttributes(path, &attributes);
  if (found == win::kSuccess) {
    FileFacts facts;
    const bool described = below_.DescribeFile(path, &facts) == win::kSuccess;
    if ((attributes & win::kFileAttributeReparsePoint) != 0 || (described && facts.links > 1)) {
      return win::kCantAccessFile;
    }
    if ((attributes & (win::kFileAttributeDirectory | win::kFileAttributeReadOnly)) != 0) {
      return win::kAccessDenied;
    }
    if (described && (facts.writable == win::kSharingViolation ||
                      (facts.writable != win::kSuccess && below_.IsAdministrator()))) {
      return facts.writable;
    }
  } else if (found != win::kFileNotFound) {
    return found;
  }
  *created = found != win::kSuccess;
  *file = next_file_++;
  open_files_[*file] = std::u16string(path);
  return win::kSuccess;
}

Status OverlayPlatform::AppendToFile(FileHandle file, std::string_view bytes) {
  if (open_files_.count(file) == 0) return 6;
  appended_ += bytes;
  return win::kSuccess;
}

void OverlayPlatform::CloseFile(FileHandle file) { open_files_.erase(file); }

std::string OverlayPlatform::ToAnsi(std::u16string_view text) { return below_.ToAnsi(text); }

// --- Process ---------------------------------------------------------------------

Status OverlayPlatform::CreateNamedMutex(std::u16string_view name, bool* held_here) {
  // Never made: holding it would keep a repair from starting meanwhile.
  *held_here = false;
  return below_.FindNamedMutex(name) == win::kSuccess ? win::kAlreadyExists
                                                      : win::kSuccess;
}

Status OverlayPlatform::FindNamedMutex(std::u16string_view name) {
  return below_.FindNamedMutex(name);
}

bool OverlayPlatform::IsAdministrator() { return below_.IsAdministrator(); }

WindowsVersion OverlayPlatform::OsVersion() { return below_.OsVersion(); }

bool OverlayPlatform::NoticeCanBeSeen() { return below_.NoticeCanBeSeen(); }

std::u16string OverlayPlatform::ComputerName() { return below_.ComputerName(); }

UtcTime OverlayPlatform::Now() { return below_.Now(); }

std::optional<std::u16string> OverlayPlatform::ReadEnvironment(std::u16string_view name) {
  return below_.ReadEnvironment(name);
}

std::u16string OverlayPlatform::CommandLine() { return below_.CommandLine(); }

std::u16string OverlayPlatform::ProgramBaseName() { return below_.ProgramBaseName(); }

std::u16string OverlayPlatform::LoadMessage(std::uint32_t id) {
  return below_.LoadMessage(id);
}

void OverlayPlatform::ShowNotice(std::u16string_view text, std::u16string_view,
                                 std::uint32_t) {
  notices_.emplace_back(text);
}


}  // namespace tarvox
