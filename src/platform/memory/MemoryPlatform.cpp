#include "platform/memory/MemoryPlatform.h"

#include <utility>

#include "platform/memory/MemoryFold.h"
#include "resources/Catalogue.h"

namespace tarvox {

using memory::Fold;

MemoryPlatform::MemoryPlatform() {
  environment_[Fold(u"SystemRoot")] = u"C:\\windows";
  AddFolder(u"C:\\windows\\system32\\drivers");
}

MemoryPlatform::~MemoryPlatform() = default;

// --- Process ---------------------------------------------------------------------

Status MemoryPlatform::CreateNamedMutex(std::u16string_view name) {
  const std::u16string key(name);
  if (refused_mutexes_.count(key) != 0) return win::kAccessDenied;
  if (mutexes_.count(key) != 0 || !own_mutexes_.insert(key).second) {
    return win::kAlreadyExists;
  }
  return win::kSuccess;
}

Status MemoryPlatform::FindNamedMutex(std::u16string_view name) {
  const std::u16string key(name);
  return mutexes_.count(key) != 0 || own_mutexes_.count(key) != 0
             ? win::kSuccess
             : win::kFileNotFound;
}

bool MemoryPlatform::IsAdministrator() { return administrator_; }

void MemoryPlatform::HoldMutex(std::u16string_view name) {
  mutexes_.insert(std::u16string(name));
}

void MemoryPlatform::RefuseMutex(std::u16string_view name) {
  refused_mutexes_.insert(std::u16string(name));
}

bool MemoryPlatform::Faulted(Status* status, std::string_view operation,
                             std::u16string_view subject, std::u16string_view value_key,
                             std::u16string_view value_name) {
  if (operations_ == act_at_ && act_) std::exchange(act_, {})();
  const bool fails = operations_++ == fail_at_;
  if (!keep_trace_ && !fails) return false;
  std::u16string value;
  if (!value_name.empty()) value = std::u16string(value_key) + u'\\' + std::u16string(value_name);
  if (keep_trace_) trace_.push_back({std::string(operation), std::u16string(subject), value});
  if (!fails) return false;
  *status = fail_status_;
  fired_ = FiredFault{std::string(operation), std::u16string(subject), fail_status_, value};
  return true;
}

WindowsVersion MemoryPlatform::OsVersion() { return os_version_; }

bool MemoryPlatform::NoticeCanBeSeen() { return notice_can_be_seen_; }

std::u16string MemoryPlatform::ComputerName() { return computer_name_; }

UtcTime MemoryPlatform::Now() { return now_; }

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
