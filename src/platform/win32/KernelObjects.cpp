#include "platform/win32/KernelObjects.h"

#include <cstring>
#include <string>
#include <vector>

namespace tarvox::win32 {
namespace {

template <typename Function>
Function Lookup(const wchar_t* module, const char* name) {
  const HMODULE loaded = GetModuleHandleW(module);
  if (loaded == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded, name)));
}

// The object's full name; false when it cannot be had or is empty.
bool FullName(HANDLE object, std::wstring* name) {
  using NtQueryObjectFunction = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  constexpr int kObjectNameInformation = 1;
  static const auto query =
      Lookup<NtQueryObjectFunction>(L"ntdll.dll", "NtQueryObject");
  if (query == nullptr) return false;
  // OBJECT_NAME_INFORMATION: a UNICODE_STRING, then the text it points to.
  struct NameString {
    USHORT length;  // in bytes
    USHORT maximum;
    const wchar_t* text;
  };
  std::vector<unsigned char> buffer(1024);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(object, kObjectNameInformation, buffer.data(),
                              static_cast<ULONG>(buffer.size()), &needed);
    if (status >= 0) {
      NameString found{};
      std::memcpy(&found, buffer.data(), sizeof found);
      const std::size_t units = found.length / sizeof(wchar_t);
      if (found.text == nullptr || units == 0) return false;
      const auto* first = reinterpret_cast<const unsigned char*>(found.text);
      // The text must lie inside the buffer it was written to.
      if (first < buffer.data() + sizeof found ||
          first + units * sizeof(wchar_t) > buffer.data() + buffer.size()) {
        return false;
      }
      name->assign(found.text, units);
      return true;
    }
    if (needed <= buffer.size() || needed > 65536) return false;
    buffer.assign(needed, 0);
  }
  return false;
}

}  // namespace

int SameObjectByComparison(HANDLE first, HANDLE second) {
  using CompareFunction = BOOL(WINAPI*)(HANDLE, HANDLE);
  static const CompareFunction compare = [] {
    const auto in_kernelbase = Lookup<CompareFunction>(L"kernelbase.dll", "CompareObjectHandles");
    return in_kernelbase != nullptr
               ? in_kernelbase
               : Lookup<CompareFunction>(L"kernel32.dll", "CompareObjectHandles");
  }();
  if (compare == nullptr) return kCannotCompare;
  return compare(first, second) ? kSameObject : kOtherObject;
}

int SameObjectByName(HANDLE first, HANDLE second) {
  std::wstring first_name;
  std::wstring second_name;
  if (!FullName(first, &first_name) || !FullName(second, &second_name)) {
    return kCannotCompare;
  }
  return first_name == second_name ? kSameObject : kOtherObject;
}

int SameKernelObject(HANDLE first, HANDLE second) {
  const int compared = SameObjectByComparison(first, second);
  return compared != kCannotCompare ? compared : SameObjectByName(first, second);
}

}  // namespace tarvox::win32
