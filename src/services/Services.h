// What a filter name says about its service: whether the service exists,
// whether Windows will start it, and the values of its key. These only read
// the local machine's service keys; they change nothing and log nothing.
#pragma once

#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/RegKey.h"
#include "services/Verdict.h"

namespace tarvox {

// A service's key is this root followed directly by the service name.
inline constexpr std::u16string_view kServicesRoot =
    u"SYSTEM\\CurrentControlSet\\Services\\";

// The questions the checks ask about a service, ServiceExists,
// IsServiceEnabled and ReadServiceValue, answered below on the service's
// key opened once for all three (OpenService). (Asked by name, each opening
// the key anew, they are the tests': tests/support/ServicesByName.h.)
//
// ServiceExists: 1 when the Services key has a subkey named `serviceName` (letters A to Z
// folded, nothing else); 0 when the registry reports there is none: opening
// the service's key answers "not found", the name is one no key can have
// (empty, holding a backslash, or longer than the 255 units of a key name),
// or the key found is one whose stored name differs beyond A to Z;
// kCannotTell when the lookup could not be made (the service's key refused
// to open for any other reason and the Services key could not be listed
// whole). Its cost does not grow with the number of services: the subkey is
// opened by name and its stored name compared; the Services key is listed
// only when that cannot be done, so a Services key that refuses listing
// costs nothing.

// IsServiceEnabled: 1 when Windows may load the service's driver, 0 when it will not:
// - its start type `valueName` ("Start") holds exactly 4 bytes whose number,
//   unsigned, is 0 to 3 (boot, system, automatic, on demand): 1. Filters are
//   loaded by Plug and Play as the device starts, which is what on-demand
//   start means, so on demand counts as enabled;
// - the number is 4 (disabled) or more, or the value is reported missing, or
//   it is not 4 bytes long (a service without a valid start type is never
//   started): 0. Nothing is judged on bytes the query did not write;
// - the service's key cannot be opened, or the query fails otherwise:
//   kCannotTell.

// Results of ReadServiceValue besides 1 (read: the text, or empty when the
// value is missing) and 0 (the service's key could not be opened; `out`
// untouched).
// The value is there but could not be read whole (more than 259 units and a
// NUL, or any other failure of the read); `out` untouched.
inline constexpr int kValueNotReadWhole = -1;

// ReadServiceValue: reads the value `valueName` of the service's key as
// text, at most 260 units (520 bytes), its type not examined: the text runs
// to its first NUL or to the end of the data read.

// The same questions with the service's key opened once for all three: a
// list's names are judged with each service's key opened once for its name.
//
// ServiceExists. On 1, `service` is open on the service's key for reading,
// unless the key refuses that (then it is closed, and the questions below
// answer as for a key that cannot be opened).
// Why the lookup could not tell, for a report: the error that opening the
// service's key (or reading its name) gave, and the one that ended the walk
// through the Services key (234 for a name too long to read); 0 for what
// did not fail.
struct ServiceLookupFinding {
  Status opened = 0;
  Status listed = 0;
};
int OpenService(Platform& os, std::u16string_view serviceName, RegKey* service,
                ServiceLookupFinding* finding = nullptr);
// What the start-type query found, for a report: whether a value was there,
// its size, and the number when it was 4 bytes.
struct StartTypeFinding {
  bool there = false;
  std::uint32_t size = 0;
  std::uint32_t number = 0;
  Status error = 0;  // the query's error, when it could not tell
};
// IsServiceEnabled and ReadServiceValue on a service key from OpenService.
int IsServiceEnabled(const RegKey& service, std::u16string_view valueName,
                     StartTypeFinding* finding = nullptr);
// `error`, when given, receives the query's error when it gives
// kValueNotReadWhole.
int ReadServiceValue(const RegKey& service, std::u16string_view valueName,
                     std::u16string* out, Status* error = nullptr);

}  // namespace tarvox
