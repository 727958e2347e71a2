// The in-memory machine's CD-ROM devices, found in its registry as Windows
// finds them.
#include <algorithm>
#include <cstring>

#include "support/memory/MemoryFold.h"
#include "support/memory/MemoryPlatform.h"

namespace tarvox {
namespace {

using memory::Fold;

constexpr std::u16string_view kEnumRoot = u"SYSTEM\\CurrentControlSet\\Enum";
constexpr std::u16string_view kCdromClassGuid =
    u"{4D36E965-E325-11CE-BFC1-08002BE10318}";

std::u16string_view PropertyValueName(std::uint32_t property) {
  if (property == win::kSpdrpLowerFilters) return u"LowerFilters";
  if (property == win::kSpdrpUpperFilters) return u"UpperFilters";
  return {};
}

}  // namespace

// --- Devices -------------------------------------------------------------------
// A device is a key three levels below the device tree (enumerator, device,
// instance) whose "ClassGUID" names the CD-ROM class; its filter properties
// are that key's "LowerFilters" and "UpperFilters" values, as in Windows.

void MemoryPlatform::AddCdromDevice(std::u16string_view instance) {
  std::u16string path(kEnumRoot);
  path += u'\\';
  path += instance;
  PutString(path, u"ClassGUID", kCdromClassGuid);
}

DeviceSetHandle MemoryPlatform::OpenCdromDevices() {
  if (Status fault = 0; Faulted(&fault, "OpenCdromDevices", u"")) return kNoDeviceSet;
  std::vector<std::u16string> devices;
  if (const Key* tree = FindKey(kEnumRoot)) {
    for (const auto& [_, enumerator] : tree->subkeys) {
      for (const auto& [__, device] : enumerator->subkeys) {
        for (const auto& [___, instance] : device->subkeys) {
          const Value* guid =
              FindValue(*instance, u"ClassGUID");
          if (guid == nullptr || guid->type != win::kRegSz) continue;
          std::u16string text(guid->bytes.size() / 2, u'\0');
          std::memcpy(text.data(), guid->bytes.data(), text.size() * 2);
          text.resize(std::min(text.find(u'\0'), text.size()));
          if (Fold(text) != Fold(kCdromClassGuid)) continue;
          devices.push_back(std::u16string(kEnumRoot) + u"\\" +
                            enumerator->name + u"\\" + device->name + u"\\" +
                            instance->name);
        }
      }
    }
  }
  const DeviceSetHandle set = next_device_set_++;
  device_sets_[set] = std::move(devices);
  return set;
}

std::u16string MemoryPlatform::DeviceInstancePath(DeviceSetHandle set,
                                                  std::uint32_t index) const {
  const auto it = device_sets_.find(set);
  if (it == device_sets_.end() || index >= it->second.size()) return {};
  return it->second[index];
}

bool MemoryPlatform::EnumDevice(DeviceSetHandle set, std::uint32_t index) {
  if (Status fault = 0; Faulted(&fault, "EnumDevice", u"")) return false;
  return !DeviceInstancePath(set, index).empty();
}

Status MemoryPlatform::GetDeviceProperty(DeviceSetHandle set,
                                         std::uint32_t index,
                                         std::uint32_t property,
                                         std::uint32_t* type, void* data,
                                         std::uint32_t capacity,
                                         std::uint32_t* size) {
  const std::u16string instance = DeviceInstancePath(set, index);
  const std::u16string_view name = PropertyValueName(property);
  if (Status fault = 0; Faulted(&fault, "GetDeviceProperty", u"", instance, name)) {
    return fault;
  }
  if (instance.empty() || name.empty()) return win::kInvalidParameter;
  const Key* key = FindKey(instance);
  const Value* value =
      key != nullptr ? FindValue(*const_cast<Key*>(key), name) : nullptr;
  if (value == nullptr) return win::kInvalidData;
  if (type != nullptr) *type = value->type;
  if (size != nullptr) *size = static_cast<std::uint32_t>(value->bytes.size());
  if (value->bytes.size() > capacity || data == nullptr) {
    return win::kInsufficientBuffer;
  }
  std::memcpy(data, value->bytes.data(), value->bytes.size());
  return win::kSuccess;
}

Status MemoryPlatform::SetDeviceProperty(DeviceSetHandle set,
                                         std::uint32_t index,
                                         std::uint32_t property,
                                         const void* data, std::uint32_t size) {
  const std::u16string instance = DeviceInstancePath(set, index);
  const std::u16string_view name = PropertyValueName(property);
  if (Status fault = 0; Faulted(&fault, "SetDeviceProperty", u"", instance, name)) {
    return fault;
  }
  if (instance.empty() || name.empty()) return win::kInvalidParameter;
  Key* key = MakeKey(instance);
  if (data == nullptr || size == 0) {
    // Windows deletes the value (Wine leaves an empty one; callers accept
    // both), and fails when there is none, with an error its documentation
    // does not give: the one a read of it gives stands for it.
    const std::u16string folded = Fold(name);
    const auto erased = std::erase_if(key->values, [&](const Value& value) {
      return Fold(value.name) == folded;
    });
    return erased != 0 ? win::kSuccess : win::kInvalidData;
  }
  const std::string bytes(static_cast<const char*>(data), size);
  if (Value* value = FindValue(*key, name)) {
    value->type = win::kRegMultiSz;
    value->bytes = bytes;
  } else {
    key->values.push_back({std::u16string(name), win::kRegMultiSz, bytes});
  }
  return win::kSuccess;
}

Status MemoryPlatform::DeviceInstanceId(DeviceSetHandle set, std::uint32_t index,
                                        std::u16string* id) {
  if (Status fault = 0; Faulted(&fault, "DeviceInstanceId", u"")) return fault;
  const std::u16string path = DeviceInstancePath(set, index);
  if (path.empty()) return win::kNoMoreItems;
  *id = path.substr(kEnumRoot.size() + 1);
  return win::kSuccess;
}

void MemoryPlatform::CloseDevices(DeviceSetHandle set) {
  device_sets_.erase(set);
}

}  // namespace tarvox
