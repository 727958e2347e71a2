// What a filter name says about its service: whether the service exists,
// whether Windows will start it, and the values of its key. These only read
// the local machine's service keys; they change nothing and log nothing.
#pragma once

#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/RegKey.h"

namespace tarvox {

// A service's key is this root followed directly by the service name.
inline constexpr std::u16string_view kServicesRoot =
    u"SYSTEM\\CurrentControlSet\\Services\\";

// 1 when the Services key has a subkey named `serviceName` (letters A to Z
// folded, nothing else), else 0; also 0 when the Services key cannot be
// opened. Its cost does not grow with the number of services: the subkey is
// opened by name and its stored name compared.
int ServiceExists(Platform& os, std::u16string_view serviceName);

// 1 when Windows may load the service's driver, 0 when it will not:
// - its start type `valueName` ("Start") holds exactly 4 bytes whose number,
//   unsigned, is 0 to 3 (boot, system, automatic, on demand): 1. Filters are
//   loaded by Plug and Play as the device starts, which is what on-demand
//   start means, so on demand counts as enabled;
// - the number is 4 (disabled) or more, or the value is missing or not 4
//   bytes long (a service without a valid start type is never started): 0.
//   Nothing is judged on bytes the query did not write;
// - the service's key cannot be opened: 1. An unreadable key tells nothing
//   about the service, and a name is only ever removed on evidence.
int IsServiceEnabled(Platform& os, std::u16string_view serviceName,
                     std::u16string_view valueName);

// Results of ReadServiceValue besides 1 (read: the text, or empty when the
// value is missing) and 0 (the service's key could not be opened; `out`
// untouched).
// The value is there but could not be read whole (more than 259 units and a
// NUL, or any other failure of the read); `out` untouched.
inline constexpr int kValueNotReadWhole = -1;

// Reads the value `valueName` of the service's key as text, at most 260
// units (520 bytes), its type not examined: the text runs to its first NUL
// or to the end of the data read.
int ReadServiceValue(Platform& os, std::u16string_view serviceName,
                     std::u16string_view valueName, std::u16string* out);

// The same questions with the keys opened once. A list's names are judged
// with the Services key opened once for the list and each service's key
// once for its name, instead of once for every question.
//
// Opens the Services key for looking services up.
Status OpenServicesKey(RegKey* services);
// ServiceExists, with `services` from OpenServicesKey (not open: 0 for every
// name). On 1, `service` is open on the service's key for reading, unless
// the key refuses that (then it is closed, and the questions below answer
// as for a key that cannot be opened).
int OpenService(const RegKey& services, std::u16string_view serviceName,
                RegKey* service);
// IsServiceEnabled and ReadServiceValue on a service key from OpenService.
int IsServiceEnabled(const RegKey& service, std::u16string_view valueName);
int ReadServiceValue(const RegKey& service, std::u16string_view valueName,
                     std::u16string* out);

}  // namespace tarvox
