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

// Whether a subkey of the open Services key is named `serviceName` with the
// letters A to Z folded, found by walking every subkey.
int FindServiceByWalk(const RegKey& services, std::u16string_view serviceName) {
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

}  // namespace

Status OpenServicesKey(RegKey* services) {
  return services->Open(kServicesRoot, win::kKeyEnumerateSubKeys);
}

int OpenService(const RegKey& services, std::u16string_view serviceName,
                RegKey* service) {
  service->Close();
  if (!services.is_open()) return 0;
  // Key names are unique under the registry's own comparison, which folds
  // at least A to Z: at most one subkey equals the name with A to Z folded,
  // and opening the name finds it if it is there. Its name as stored then
  // says whether it equals the name with only A to Z folded. A name that is
  // not a single key name (empty, with a backslash, too long) opens nothing,
  // or another key whose stored name differs. So the answer is the walk's,
  // in a few calls however many services there are.
  const Status opened =
      service->Open(ServiceKeyPath(serviceName), win::kKeyQueryValue);
  if (opened != win::kSuccess && opened != win::kAccessDenied) return 0;
  std::u16string stored;
  if (opened == win::kSuccess && service->Name(&stored) == win::kSuccess) {
    if (SameName(stored, serviceName)) return 1;
    service->Close();
    return 0;
  }
  // A key that refuses to be opened for reading, or whose name cannot be
  // read: the walk answers, and the key stays closed.
  service->Close();
  return FindServiceByWalk(services, serviceName);
}

int ServiceExists(Platform& os, std::u16string_view serviceName) {
  RegKey services(os);
  RegKey service(os);
  OpenServicesKey(&services);
  return OpenService(services, serviceName, &service);
}

int IsServiceEnabled(const RegKey& service, std::u16string_view valueName) {
  if (!service.is_open()) return 1;
  std::uint32_t start = 0;
  std::uint32_t size = kStartTypeBytes;
  if (service.QueryValue(valueName, nullptr, &start, &size) != win::kSuccess ||
      size != kStartTypeBytes) {
    return 0;
  }
  return start <= kLastEnabledStartType ? 1 : 0;
}

int IsServiceEnabled(Platform& os, std::u16string_view serviceName,
                     std::u16string_view valueName) {
  RegKey service(os);
  service.Open(ServiceKeyPath(serviceName), win::kKeyQueryValue);
  return IsServiceEnabled(service, valueName);
}

int ReadServiceValue(const RegKey& service, std::u16string_view valueName,
                     std::u16string* out) {
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
  if (status != win::kSuccess) return kValueNotReadWhole;
  // Only the units the read wrote; a trailing odd byte is no unit.
  const std::size_t units = std::min<std::size_t>(size / 2, text.size());
  const std::u16string_view read(text.data(), units);
  out->assign(read.substr(0, read.find(u'\0')));
  return 1;
}

int ReadServiceValue(Platform& os, std::u16string_view serviceName,
                     std::u16string_view valueName, std::u16string* out) {
  RegKey service(os);
  service.Open(ServiceKeyPath(serviceName), win::kKeyQueryValue);
  return ReadServiceValue(service, valueName, out);
}

}  // namespace tarvox
