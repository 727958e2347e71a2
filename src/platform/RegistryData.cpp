#include "platform/RegistryData.h"

#include <cstring>

namespace tarvox::registry_data {
namespace {

bool IsStringType(std::uint32_t type) {
  return type == win::kRegSz || type == win::kRegExpandSz || type == win::kRegMultiSz;
}

char16_t UnitAt(const void* data, std::size_t byte_offset) {
  char16_t unit;
  std::memcpy(&unit, static_cast<const unsigned char*>(data) + byte_offset, sizeof unit);
  return unit;
}

}  // namespace

std::uint32_t StoredSize(std::uint32_t type, const void* data, std::uint32_t size) {
  if (IsStringType(type) && size >= 2 && UnitAt(data, (size / 2 - 1) * 2) != 0 &&
      UnitAt(data, (size / 2) * 2) == 0) {
    return size + 2;
  }
  return size;
}

Status Answer(std::uint32_t stored_type, std::string_view bytes, std::uint32_t* type,
              void* data, std::uint32_t* size) {
  if (data != nullptr && size == nullptr) return win::kInvalidParameter;
  const auto stored = static_cast<std::uint32_t>(bytes.size());
  if (type != nullptr) *type = stored_type;
  if (size == nullptr) return win::kSuccess;
  if (data != nullptr) {
    if (*size < stored) {
      *size = stored;
      return win::kMoreData;
    }
    std::memcpy(data, bytes.data(), stored);
    if (IsStringType(stored_type) && stored >= 2 && std::size_t{stored} + 2 <= *size &&
        UnitAt(data, stored - 2) != 0) {
      std::memset(static_cast<unsigned char*>(data) + stored, 0, 2);
    }
  }
  *size = stored;
  return win::kSuccess;
}

}  // namespace tarvox::registry_data
