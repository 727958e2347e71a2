// What the registry does with the data of values, which every machine that
// answers in its place must do alike (the in-memory machine, the overlay):
// the NUL it adds to string data on the way in and on the way out. The
// contract tests pin these on the real calls.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/Platform.h"

namespace tarvox::registry_data {

// RegSetValueExW: how many of `size` bytes of `data` are stored. String data
// whose last unit is not NUL but is followed by a NUL unit in the caller's
// buffer is stored with that NUL.
std::uint32_t StoredSize(std::uint32_t type, const void* data, std::uint32_t size);

// RegQueryValueExW answered from stored bytes: `type` and `data` may be
// null; `size` holds the capacity on entry and the stored size on return. A
// buffer too small gets 234 and is left as it was; a string whose last unit
// is not NUL gets a NUL after it when the buffer has room, not counted.
Status Answer(std::uint32_t stored_type, std::string_view bytes, std::uint32_t* type,
              void* data, std::uint32_t* size);

}  // namespace tarvox::registry_data
