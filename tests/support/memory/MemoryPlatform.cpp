#include "support/memory/MemoryPlatform.h"

#include <utility>

#include "support/memory/MemoryFold.h"
#include "resources/Catalogue.h"

namespace tarvox {

using memory::Fold;

MemoryPlatform::MemoryPlatform() {
  environment_[Fold(u"SystemRoot")] = u"C:\\windows";
  AddFolder(u"C:\\windows\\system32\\drivers");
}

MemoryPlatform::~MemoryPlatform() = default;

// --- Process ---------------------------------------------------------------------

std::u16string MemoryPlatform::MutexObject(std::u16string_view name) const {
  // The prefixes are case-sensitive keywords.
  constexpr std::u16string_view kGlobal = u"Global\\";
  constexpr std::u16string_view kLocal = u"Local\\";
  const bool global = name.starts_with(kGlobal);
  if (global) name.remove_prefix(kGlobal.size());
  if (name.starts_with(kLocal)) name.remove_prefix(kLocal.size());
  // Session 0 has no namespace of its own: it uses the global one.
  std::u16string object = u"\\BaseNamedObjects\\";
  if (!global && session_ != 0) {
    object = u"\\Sessions\\";
    for (const char digit : std::to_string(session_)) object += char16_t(digit);
    object += u"\\BaseNamedObjects\\";
  }
  return object + std::u16string(name);
}

Status MemoryPlatform::CreateNamedMutex(std::u16string_view name, bool* held_here) {
  *held_here = false;
  const std::u16string object = MutexObject(name);
  if (refused_mutexes_.count(object) != 0) return win::kAccessDenied;
  if (mutexes_.count(object) != 0) return win::kAlreadyExists;
  if (!own_mutexes_.insert(object).second) {
    *held_here = true;
    return win::kAlreadyExists;
  }
  return win::kSuccess;
}

Status MemoryPlatform::FindNamedMutex(std::u16string_view name) {
  const std::u16string object = MutexObject(name);
  return mutexes_.count(object) != 0 || own_mutexes_.count(object) != 0
             ? win::kSuccess
             : win::kFileNotFound;
}

bool MemoryPlatform::IsAdministrator() { return administrator_; }

void MemoryPlatform::HoldMutex(std::u16string_view name) {
  mutexes_.insert(MutexObject(name));
}

void MemoryPlatform::RefuseMutex(std::u16string_view name) {
  refused_mutexes_.insert(MutexObject(name));
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

bool MemoryPlatform::NoticeCanBeSeen() {
  return notice_can_be_seen_ && !(session_ == 0 && os_version_.major >= 6);
}

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


}  // namespace tarvox
