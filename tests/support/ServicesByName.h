// The questions about a service asked by its name, each opening the
// service's key anew, as the tests ask them one at a time. The checks open
// a service's key once for all three (services/Services.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/RegKey.h"
#include "services/DriverFile.h"
#include "services/Services.h"

namespace tarvox {

inline RegKey OpenServiceKey(Platform& os, std::u16string_view serviceName) {
  RegKey service(os);
  service.Open(std::u16string(kServicesRoot) + std::u16string(serviceName), win::kKeyQueryValue);
  return service;
}

inline int ServiceExists(Platform& os, std::u16string_view serviceName) {
  RegKey service(os);
  return OpenService(os, serviceName, &service);
}

inline int IsServiceEnabled(Platform& os, std::u16string_view serviceName,
                            std::u16string_view valueName) {
  return IsServiceEnabled(OpenServiceKey(os, serviceName), valueName);
}

inline int ReadServiceValue(Platform& os, std::u16string_view serviceName,
                            std::u16string_view valueName, std::u16string* out) {
  return ReadServiceValue(OpenServiceKey(os, serviceName), valueName, out);
}

inline int CheckDriverFile(Platform& os, std::u16string_view serviceName) {
  return CheckDriverFile(os, serviceName, OpenServiceKey(os, serviceName));
}

}  // namespace tarvox
