#include "services/Services.h"

#include <algorithm>
#include <array>

#include "multisz/MultiSz.h"
#include "multisz/Names.h"

namespace tarvox {
namespace {

// Service names, and so subkey names, hold at most 255 units: 260 units with
// the NUL always suffice.
constexpr std::uint32_t kNameUnits = 260;
// Service values are read into 260 units, 520 bytes.
constexpr std::uint32_t kValueUnits = 260;
// A start type is a 32-bit number.
constexpr std::uint32_t kStartTypeBytes = 4;
// The highest start type with which Windows loads a driver: on demand.
// 4 is disabled.
constexpr std::uint32_t kLastEnabledStartType = 3;

std::u16string ServiceKeyPath(std::u16string_view serviceName) {
  std::u16string path(kServicesRoot);
  path += serviceName;
  return path;
}

// A registry key's name: 1 to 255 units, no backslash. No other name can be
// a service's.
constexpr std::size_t kLongestKeyName = 255;

bool CanBeKeyName(std::u16string_view name) {
  return !name.empty() && name.size() <= kLongestKeyName &&
         name.find(u'\\') == std::u16string_view::npos;
}

// Whether a subkey of the Services key is named `serviceName` with the
// letters A to Z folded, found by listing every subkey: 1 when found, 0 when
// every name was read to the end of the list, kCannotTell when one could not
// be (`*failure` then says why).
int FindServiceByWalk(Platform& os, std::u16string_view serviceName, Status* failure) {
  RegKey services(os);
  if (const Status opened = services.Open(kServicesRoot, win::kKeyEnumerateSubKeys)) {
    *failure = opened;
    return kCannotTell;
  }
  bool every_name_read = true;
  for (std::uint32_t index = 0;; ++index) {
    std::array<char16_t, kNameUnits> name{};
    std::uint32_t length = kNameUnits;
    const Status status = services.EnumKey(index, name.data(), &length);
    // A name too long for the buffer must not end the walk and hide the
    // services after it; but a name that was not read cannot be ruled out.
    if (status == win::kMoreData) {
      every_name_read = false;
      *failure = status;
      continue;
    }
    if (status == win::kNoMoreItems) return every_name_read ? 0 : kCannotTell;
    if (status != win::kSuccess) {
      *failure = status;
      return kCannotTell;
    }
    length = std::min(length, kNameUnits);
    if (SameName(std::u16string_view(name.data(), length), serviceName)) {
      return 1;
    }
  }
}

}  // namespace

int OpenService(Platform& os, std::u16string_view serviceName, RegKey* service,
                ServiceLookupFinding* finding) {
  ServiceLookupFinding found;
  if (finding == nullptr) finding = &found;
  service->Close();
  if (!CanBeKeyName(serviceName)) return 0;
  // Key names are unique under the registry's own comparison, which folds
  // at least A to Z: at most one subkey equals the name with A to Z folded,
  // and opening the name finds it if it is there. Its name as stored then
  // says whether it equals the name with only A to Z folded. So the answer
  // is the walk's, in a few calls however many services there are, and
  // without the right to list the Services key.
  const Status opened =
      service->Open(ServiceKeyPath(serviceName), win::kKeyQueryValue);
  if (opened == win::kFileNotFound) return 0;
  std::u16string stored;
  const Status named = opened == win::kSuccess ? service->Name(&stored) : opened;
  if (named == win::kSuccess) {
    if (SameName(stored, serviceName)) return 1;
    service->Close();
    return 0;
  }
  // A key that refuses to be opened for reading (it is there, but is it this
  // name?), whose name cannot be read, or that failed to open for another
  // reason: the walk answers if it can, and the key stays closed.
  finding->opened = named;
  service->Close();
  return FindServiceByWalk(os, serviceName, &finding->listed);
}

int IsServiceEnabled(const RegKey& service, std::u16string_view valueName,
                     StartTypeFinding* finding) {
  if (!service.is_open()) return kCannotTell;
  std::uint32_t start = 0;
  std::uint32_t size = kStartTypeBytes;
  const Status status = service.QueryValue(valueName, nullptr, &start, &size);
  if (finding != nullptr && (status == win::kSuccess || status == win::kMoreData)) {
    *finding = {true, size, size == kStartTypeBytes ? start : 0, 0};
  }
  if (finding != nullptr && status != win::kSuccess && status != win::kFileNotFound) {
    finding->error = status;
  }
  if (status == win::kFileNotFound) return 0;
  // Too long for a start type: the query says how long, and anything but 4
  // bytes is no start type. A failure that reports no size says nothing.
  if (status == win::kMoreData) return size != kStartTypeBytes ? 0 : kCannotTell;
  if (status != win::kSuccess) return kCannotTell;
  if (size != kStartTypeBytes) return 0;
  return start <= kLastEnabledStartType ? 1 : 0;
}

int ReadServiceValue(const RegKey& service, std::u16string_view valueName,
                     std::u16string* out, Status* error) {
  if (!service.is_open()) return 0;
  std::array<char16_t, kValueUnits> text{};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof text;
  const Status status =
      QueryValueZeroFill(service, valueName, &type, text.data(), &size);
  if (status == win::kFileNotFound) {
    out->clear();
    return 1;
  }
  if (status != win::kSuccess) {
    if (error != nullptr) *error = status;
    return kValueNotReadWhole;
  }
  // Only the units the read wrote; a trailing odd byte is no unit.
  const std::size_t units = std::min<std::size_t>(size / 2, text.size());
  const std::u16string_view read(text.data(), units);
  out->assign(read.substr(0, read.find(u'\0')));
  return 1;
}

}  // namespace tarvox
