// The in-memory machine's files and folders: Windows paths, resolved as
// Windows resolves them, with the sharing and attributes the tool meets.
#include <algorithm>
#include <iterator>
#include <utility>

#include "support/memory/MemoryFold.h"
#include "support/memory/MemoryPlatform.h"

namespace tarvox {
namespace {

// Units an 8.3 name may hold besides ASCII letters and digits.
constexpr std::u16string_view kShortNameSymbols = u"!#$%&'()-@^_`{}~";

bool ShortNameUnit(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') ||
         (unit >= u'0' && unit <= u'9') ||
         kShortNameSymbols.find(unit) != std::u16string_view::npos;
}

// Whether `name` is an 8.3 name already (in any letter case): a base of 1
// to 8 units, then maybe a dot and 1 to 3 more, all of them allowed.
bool IsShortName(std::u16string_view name) {
  const std::size_t dot = name.find(u'.');
  const std::u16string_view base = name.substr(0, dot);
  const std::u16string_view ext =
      dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot + 1);
  return !base.empty() && base.size() <= 8 && ext.size() <= 3 &&
         (dot == std::u16string_view::npos || !ext.empty()) &&
         std::all_of(base.begin(), base.end(), ShortNameUnit) &&
         std::all_of(ext.begin(), ext.end(), ShortNameUnit);
}

// The first `count` units of `text` that an 8.3 name may hold, upper case.
std::u16string ShortPart(std::u16string_view text, std::size_t count) {
  std::u16string part;
  for (const char16_t unit : text) {
    if (part.size() == count) break;
    if (!ShortNameUnit(unit) || unit == u'~') continue;
    part += unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
  }
  return part.empty() ? u"_" : part;
}

}  // namespace

// --- Short names -------------------------------------------------------------
// Like NTFS, the in-memory machine gives every file and folder whose name is
// no 8.3 name a short one: six units of its name, "~", a number, and three
// of its extension ("Long Folder Name" is "LONGFO~1"). A path may spell any
// part of it either way. (Wine makes its short names otherwise; what holds
// on both is that the short spelling names the same file.)

std::u16string MemoryPlatform::JoinPath(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (path.empty() || path.back() != u'\\') path += u'\\';
  return path + std::u16string(name);
}

const MemoryPlatform::Node* MemoryPlatform::ChildNamed(std::u16string_view folder,
                                                       std::u16string_view name) const {
  if (const auto it = files_.find(FoldPath(JoinPath(folder, name))); it != files_.end()) {
    return &it->second;
  }
  const std::u16string folded = memory::Fold(name);
  const std::u16string folded_folder = FoldPath(folder);
  for (const auto& [_, node] : files_) {
    if (!node.short_name.empty() && memory::Fold(node.short_name) == folded &&
        FoldPath(ParentOf(node.path)) == folded_folder) {
      return &node;
    }
  }
  return nullptr;
}

MemoryPlatform::Node MemoryPlatform::MakeNode(const std::u16string& normalized, bool folder) const {
  Node node;
  node.path = normalized;
  node.folder = folder;
  const std::u16string parent = ParentOf(normalized);
  const std::u16string name = normalized.substr(normalized.rfind(u'\\') + 1);
  if (!IsShortName(name)) {
    const std::size_t dot = name.rfind(u'.');
    const std::u16string base = ShortPart(name.substr(0, dot), 6);
    const std::u16string ext =
        dot == std::u16string::npos ? u"" : u"." + ShortPart(name.substr(dot + 1), 3);
    for (int number = 1; node.short_name.empty(); ++number) {
      std::u16string candidate = base + u"~";
      for (const char digit : std::to_string(number)) candidate += char16_t(digit);
      candidate += ext;
      if (ChildNamed(parent, candidate) == nullptr) node.short_name = candidate;
    }
  }
  return node;
}

std::u16string MemoryPlatform::ShortPathOf(std::u16string_view path) const {
  const std::u16string normalized = Normalize(path);
  std::u16string short_path = normalized.substr(0, 2);
  std::u16string long_path = short_path;
  std::size_t at = 3;
  while (at <= normalized.size()) {
    const std::size_t cut = std::min(normalized.find(u'\\', at), normalized.size());
    const std::u16string part = normalized.substr(at, cut - at);
    long_path = JoinPath(long_path, part);
    const Node* node = FindNode(long_path);
    short_path = JoinPath(short_path,
                          node != nullptr && !node->short_name.empty() ? node->short_name : part);
    at = cut + 1;
  }
  return short_path;
}

std::u16string MemoryPlatform::Normalize(std::u16string_view path) const {
  // "\\?\X:\...": Windows takes it literally. Only '\' separates names, and
  // "." and "..", or a name that ends in a dot or a blank, are names as they
  // stand (which no file has); the file system's own rules, letter case and
  // short names, still hold.
  const bool literal = path.starts_with(kLiteralPathPrefix);
  std::u16string text(NamesOf(path));
  if (!literal) std::replace(text.begin(), text.end(), u'/', u'\\');
  // Make it absolute against the current folder (a drive-relative "X:name"
  // is taken from the root of its drive).
  if (text.size() >= 2 && text[1] == u':') {
    if (text.size() == 2 || text[2] != u'\\') text.insert(2, u"\\");
  } else if (!text.empty() && text[0] == u'\\') {
    text.insert(0, current_folder_.substr(0, 2));
  } else {
    text.insert(0, current_folder_ + u"\\");
  }
  const bool ends_in_separator = text.size() > 3 && text.back() == u'\\';
  // Resolve the parts after the drive.
  std::vector<std::u16string> parts;
  std::size_t at = 3;
  while (at <= text.size()) {
    const std::size_t cut = std::min(text.find(u'\\', at), text.size());
    std::u16string part = text.substr(at, cut - at);
    at = cut + 1;
    if (literal) {
      if (!part.empty() || cut < text.size()) parts.push_back(part);
      continue;
    }
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    if (part.empty() || part == u".") continue;
    // As Win32 calls trim names: the last one loses every dot and blank
    // that ends it ("flt.sys " is "flt.sys"), the others one ending dot.
    if (cut == text.size()) {
      while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) part.pop_back();
      if (part.empty()) continue;
    } else if (part.back() == u'.') {
      part.pop_back();
    }
    parts.push_back(part);
  }
  std::u16string result = text.substr(0, 2);
  for (const auto& part : parts) {
    // A short name stands for the long one it was given for.
    const Node* node = part.find(u'~') != std::u16string::npos
                           ? ChildNamed(result.size() == 2 ? result + u"\\" : result, part)
                           : nullptr;
    result += u"\\" + (node != nullptr ? node->path.substr(node->path.rfind(u'\\') + 1) : part);
  }
  // A name that ends in a separator names no file.
  if (ends_in_separator && !literal) result += u'\\';
  if (parts.empty()) result += u'\\';
  return result;
}

std::u16string MemoryPlatform::FoldPath(std::u16string_view normalized) {
  return memory::Fold(normalized);
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
  if (parent.size() <= 3) {
    // The root of a drive that is there: the current folder's, or one that
    // holds anything. (A path on a drive that is not there is no path:
    // Windows answers 3, where Wine answers 2.)
    const std::u16string drive = FoldPath(parent.substr(0, 2));
    if (FoldPath(current_folder_.substr(0, 2)) == drive) return true;
    const auto below = files_.lower_bound(drive + u"\\");
    return below != files_.end() && below->first.starts_with(drive + u"\\");
  }
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

bool MemoryPlatform::HeldWithoutDeleteSharing(const Node& node) {
  return node.held_exclusively || node.held_shared || node.open_for_write > 0;
}

Status MemoryPlatform::Unreachable(std::u16string_view path) const {
  // A network path ("\\server\share\...") leads to no machine here.
  if (path.starts_with(u"\\\\") && !path.starts_with(kLiteralPathPrefix)) {
    return win::kBadNetPath;
  }
  std::u16string at = FoldPath(Normalize(path));
  for (;;) {
    if (const auto it = unreachable_.find(at); it != unreachable_.end()) {
      return it->second;
    }
    const std::u16string parent = FoldPath(ParentOf(at));
    if (parent == at || at.size() <= 3) return win::kSuccess;
    at = parent;
  }
}

Status MemoryPlatform::WhyNotFound(std::u16string_view path) const {
  // A unit no file name can hold; ':' also stands after a drive letter.
  const auto invalid = [](char16_t unit) { return unit < 0x20 || unit == u'|'; };
  if (std::any_of(path.begin(), path.end(), invalid)) return win::kInvalidName;
  return ParentFolderExists(Normalize(path)) ? win::kFileNotFound
                                             : win::kPathNotFound;
}

bool MemoryPlatform::NamesADevice(std::u16string_view path) const {
  if (path.starts_with(kLiteralPathPrefix)) return false;
  const std::u16string normalized = Normalize(path);
  return IsReservedDeviceName(std::u16string_view(normalized).substr(normalized.rfind(u'\\') + 1));
}

Status MemoryPlatform::FindPath(std::u16string_view path) {
  if (Status fault = 0; Faulted(&fault, "FindPath", path)) return fault;
  if (NamesOf(path).find_first_of(kSearchWildcards) != std::u16string_view::npos) {
    return win::kInvalidName;
  }
  if (path.empty() || path.back() == u'\\' || path.back() == u'/') {
    return win::kFileNotFound;
  }
  // A device is there, whichever folder the path names (as Wine and Windows
  // up to 10 answer; Windows 11 only for a bare reserved name).
  if (NamesADevice(path)) return win::kSuccess;
  if (const Status unreachable = Unreachable(path)) return unreachable;
  return FindNode(path) != nullptr ? win::kSuccess : WhyNotFound(path);
}

Status MemoryPlatform::GetAttributes(std::u16string_view path,
                                     std::uint32_t* attributes) {
  if (Status fault = 0; Faulted(&fault, "GetAttributes", path)) return fault;
  if (NamesADevice(path)) {
    *attributes = 0x20;  // as the device answers: archive
    return win::kSuccess;
  }
  if (const Status unreachable = Unreachable(path)) return unreachable;
  const Node* node = FindNode(path);
  if (node == nullptr) return WhyNotFound(path);
  *attributes = AttributesOf(*node);
  return win::kSuccess;
}

std::uint32_t MemoryPlatform::AttributesOf(const Node& node) {
  constexpr std::uint32_t kArchive = 0x20;
  std::uint32_t attributes =
      node.folder ? win::kFileAttributeDirectory
                  : kArchive | (node.read_only ? win::kFileAttributeReadOnly : 0);
  if (node.reparse_point) attributes |= win::kFileAttributeReparsePoint;
  return attributes;
}

Status MemoryPlatform::RenameFile(std::u16string_view from,
                                  std::u16string_view to) {
  if (Status fault = 0; Faulted(&fault, "RenameFile", from)) return fault;
  if (const Status unreachable = Unreachable(from)) return unreachable;
  if (const Status unreachable = Unreachable(to)) return unreachable;
  Node* source = FindNode(from);
  if (source == nullptr) return win::kFileNotFound;
  if (FindNode(to) != nullptr) return win::kAlreadyExists;
  const std::u16string target = Normalize(to);
  if (!ParentFolderExists(target)) return win::kPathNotFound;
  if (HeldWithoutDeleteSharing(*source)) return win::kSharingViolation;
  MoveNode(from, target);
  return win::kSuccess;
}

void MemoryPlatform::MoveNode(std::u16string_view from,
                              const std::u16string& target) {
  Node moved = *FindNode(from);
  files_.erase(FoldPath(Normalize(from)));
  const Node placed = MakeNode(target, moved.folder);
  moved.path = placed.path;
  moved.short_name = placed.short_name;
  files_[FoldPath(target)] = std::move(moved);
}

Status MemoryPlatform::RenameReplacing(std::u16string_view from,
                                       std::u16string_view to) {
  if (Status fault = 0; Faulted(&fault, "RenameReplacing", from)) return fault;
  if (const Status unreachable = Unreachable(from)) return unreachable;
  if (const Status unreachable = Unreachable(to)) return unreachable;
  Node* source = FindNode(from);
  if (source == nullptr) return win::kFileNotFound;
  const std::u16string target = Normalize(to);
  if (!ParentFolderExists(target)) return win::kPathNotFound;
  if (HeldWithoutDeleteSharing(*source)) return win::kSharingViolation;
  if (const Node* replaced = FindNode(to)) {
    // Windows refuses a read-only target; Wine run as root does not, and
    // callers test the attribute themselves.
    if (replaced->folder || replaced->read_only ||
        HeldWithoutDeleteSharing(*replaced)) {
      return win::kAccessDenied;
    }
  }
  MoveNode(from, target);
  return win::kSuccess;
}

Status MemoryPlatform::RemoveFile(std::u16string_view path) {
  if (Status fault = 0; Faulted(&fault, "RemoveFile", path)) return fault;
  if (const Status unreachable = Unreachable(path)) return unreachable;
  Node* node = FindNode(path);
  if (node == nullptr) return win::kFileNotFound;
  if (node->folder || node->read_only) return win::kAccessDenied;
  if (HeldWithoutDeleteSharing(*node)) return win::kSharingViolation;
  files_.erase(FoldPath(Normalize(path)));
  return win::kSuccess;
}

Status MemoryPlatform::FileLength(std::u16string_view path,
                                  std::uint64_t* length) {
  if (Status fault = 0; Faulted(&fault, "FileLength", path)) return fault;
  if (const Status unreachable = Unreachable(path)) return unreachable;
  const Node* node = FindNode(path);
  if (node == nullptr) return win::kFileNotFound;
  if (node->folder) return win::kAccessDenied;
  if (node->held_exclusively) return win::kSharingViolation;
  *length = node->bytes.size();
  return win::kSuccess;
}

Status MemoryPlatform::OpenAppendFile(std::u16string_view path,
                                      FileHandle* file, bool* created) {
  if (Status fault = 0; Faulted(&fault, "OpenAppendFile", path)) return fault;
  if (const Status unreachable = Unreachable(path)) return unreachable;
  const std::u16string normalized = Normalize(path);
  if (!ParentFolderExists(normalized)) return win::kPathNotFound;
  const std::u16string key = FoldPath(normalized);
  auto it = files_.find(key);
  const bool existed = it != files_.end();
  if (existed) {
    const Node& node = it->second;
    if (node.folder || node.read_only) return win::kAccessDenied;
    if (node.held_exclusively) return win::kSharingViolation;
    if (node.reparse_point || node.hard_linked) return win::kCantAccessFile;
  } else {
    it = files_.emplace(key, MakeNode(normalized, false)).first;
  }
  ++it->second.open_for_write;
  *file = next_file_++;
  *created = !existed;
  open_files_[*file] = {key};
  return win::kSuccess;
}

Status MemoryPlatform::AppendToFile(FileHandle file, std::string_view bytes) {
  if (Status fault = 0; Faulted(&fault, "AppendToFile", u"")) return fault;
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

Status MemoryPlatform::DescribeFile(std::u16string_view path, FileFacts* facts) {
  *facts = {};
  if (Status fault = 0; Faulted(&fault, "DescribeFile", path)) return fault;
  if (const Status unreachable = Unreachable(path)) return unreachable;
  const Node* node = FindNode(path);
  if (node == nullptr) {
    facts->identity = FoldPath(Normalize(path));
    return win::kSuccess;
  }
  facts->identity = u"#" + FoldPath(node->path);
  facts->exists = true;
  facts->attributes = AttributesOf(*node);
  facts->links = node->hard_linked ? 2 : 1;
  facts->movable = HeldWithoutDeleteSharing(*node) ? win::kSharingViolation : win::kSuccess;
  facts->writable = node->folder || node->read_only ? win::kAccessDenied
                    : node->held_exclusively        ? win::kSharingViolation
                                                    : win::kSuccess;
  return win::kSuccess;
}

namespace {

// The characters Windows-1252 puts at bytes 0x80 to 0x9F, as Windows maps
// them with no best fit: the five bytes the code page leaves unassigned
// stand for the C1 controls of the same number.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char AnsiByte(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    return static_cast<char>(unit);
  }
  for (std::size_t byte = 0; byte < std::size(kWindows1252High); ++byte) {
    if (kWindows1252High[byte] == unit) return static_cast<char>(0x80 + byte);
  }
  return '?';
}

}  // namespace

std::string MemoryPlatform::ToAnsi(std::u16string_view text) {
  // The in-memory machine's code page is Windows-1252. Like Windows, it
  // converts unit by unit: each half of a surrogate pair becomes a '?'.
  std::string bytes;
  bytes.reserve(text.size());
  for (const char16_t unit : text) bytes += AnsiByte(unit);
  return bytes;
}

void MemoryPlatform::AddFolder(std::u16string_view path) {
  const std::u16string normalized = Normalize(path);
  if (normalized.size() <= 3) return;
  AddFolder(ParentOf(normalized));
  if (files_.count(FoldPath(normalized)) == 0) {
    files_.emplace(FoldPath(normalized), MakeNode(normalized, true));
  }
}

void MemoryPlatform::AddFile(std::u16string_view path, std::string_view bytes) {
  const std::u16string normalized = Normalize(path);
  AddFolder(ParentOf(normalized));
  const auto existing = files_.find(FoldPath(normalized));
  Node node = existing != files_.end() ? existing->second : MakeNode(normalized, false);
  node.folder = false;
  node.bytes = std::string(bytes);
  files_[FoldPath(normalized)] = std::move(node);
}

void MemoryPlatform::AddSymbolicLink(std::u16string_view path) {
  AddFile(path, "");
  FindNode(path)->reparse_point = true;
}

void MemoryPlatform::AddHardLinkedFile(std::u16string_view path,
                                       std::string_view bytes) {
  AddFile(path, bytes);
  FindNode(path)->hard_linked = true;
}

void MemoryPlatform::SetReadOnly(std::u16string_view path, bool read_only) {
  if (Node* node = FindNode(path)) node->read_only = read_only;
}

void MemoryPlatform::MakeUnreachable(std::u16string_view path, Status status) {
  unreachable_[FoldPath(Normalize(path))] = status;
}

void MemoryPlatform::HoldExclusively(std::u16string_view path) {
  if (Node* node = FindNode(path)) node->held_exclusively = true;
}

void MemoryPlatform::SetCurrentFolder(std::u16string_view folder) {
  current_folder_ = Normalize(folder);
}

void MemoryPlatform::HoldShared(std::u16string_view path) {
  if (Node* node = FindNode(path)) node->held_shared = true;
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

std::map<std::u16string, std::string> MemoryPlatform::AllFileBytes() const {
  std::map<std::u16string, std::string> files;
  for (const auto& [_, node] : files_) {
    if (!node.folder) files[node.path] = node.bytes;
  }
  return files;
}

}  // namespace tarvox
