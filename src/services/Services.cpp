#include "services/Services.h"

#include <algorithm>
#include <array>

#include "multisz/MultiSz.h"
#include "multisz/Names.h"
#include "platform/RegKey.h"

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

}  // namespace

int ServiceExists(Platform& os, std::u16string_view serviceName) {
  RegKey services(os);
  if (services.Open(kServicesRoot, win::kKeyEnumerateSubKeys) !=
      win::kSuccess) {
    return 0;
  }
  for (std::uint32_t index = 0;; ++index) {
    std::array<char16_t, kNameUnits> name{};
    std::uint32_t length = kNameUnits;
    const Status status = services.EnumKey(index, name.data(), &length);
    // A name too long for the buffer cannot be a service name; it must not
    // end the walk and hide the services after it.
    if (status == win::kMoreData) continue;
    if (status != win::kSuccess) return 0;
    length = std::min(length, kNameUnits);
    if (SameName(std::u16string_view(name.data(), length), serviceName)) {
      return 1;
    }
  }
}

int IsServiceEnabled(Platform& os, std::u16string_view serviceName,
                     std::u16string_view valueName) {
  RegKey key(os);
  if (key.Open(ServiceKeyPath(serviceName), win::kKeyQueryValue) !=
      win::kSuccess) {
    return 1;
  }
  std::uint32_t start = 0;
  std::uint32_t size = kStartTypeBytes;
  if (key.QueryValue(valueName, nullptr, &start, &size) != win::kSuccess ||
      size != kStartTypeBytes) {
    return 0;
  }
  return start <= kLastEnabledStartType ? 1 : 0;
}

int ReadServiceValue(Platform& os, std::u16string_view serviceName,
                     std::u16string_view valueName, std::u16string* out) {
  std::array<char16_t, kValueUnits> text{};
  RegKey key(os);
  if (key.Open(ServiceKeyPath(serviceName), win::kKeyQueryValue) !=
      win::kSuccess) {
    return 0;
  }
  std::uint32_t type = 0;
  std::uint32_t size = sizeof text;
  const Status status =
      QueryValueZeroFill(key, valueName, &type, text.data(), &size);
  if (status == win::kFileNotFound) {
    out->clear();
    return 1;
  }
  if (status != win::kSuccess) return kValueNotReadWhole;
  // Only the units the read wrote; a trailing odd byte is no unit.
  const std::size_t units = std::min<std::size_t>(size / 2, text.size());
  const std::u16string_view read(text.data(), units);
  out->assign(read.substr(0, read.find(u'\0')));
  return 1;
}

}  // namespace tarvox
