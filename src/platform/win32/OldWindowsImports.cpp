// Functions the programs' runtime libraries import that Windows 5.2 (XP x64,
// Server 2003 x64) lacks. The loader refuses an exe that imports a function
// its DLLs do not export, before any of the exe's code runs, so such a
// function must be looked up at run time instead.
//
// The static threads runtime (winpthreads, which the posix-thread libstdc++
// is built on) times its waits with GetTickCount64, which kernel32 exports
// from Windows 6.0 on. It calls through the import pointer
// __imp_GetTickCount64. This file defines that pointer; linked as an object
// of each program, ahead of the libraries, it is there before libkernel32.a
// is searched, so the linker takes no import for the function.

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace {

using TickCount64 = ULONGLONG(WINAPI*)();

// GetTickCount's 32-bit count widened to 64 bits, for Windows that has no
// GetTickCount64: the high half counts the wraps of the low one (every 2^32
// ms, 49.7 days), seen as a reading lower than the one before. Threads share
// the state: a reading goes in together with the state it followed, in one
// compare-and-swap, or is read again. A wrap is missed only if 49.7 days pass
// between two calls. The count starts where GetTickCount is at the first
// call, not at the system's start, which is all that timing a wait needs.
std::atomic<std::uint64_t> widened{0};

ULONGLONG WINAPI WidenedTickCount() {
  std::uint64_t seen = widened.load();
  for (;;) {
    // Read after `seen`: a reading older than the state would look like a
    // wrap.
    const std::uint32_t now = GetTickCount();
    std::uint64_t wraps = seen >> 32;
    if (now < static_cast<std::uint32_t>(seen)) ++wraps;
    const std::uint64_t next = wraps << 32 | now;
    if (widened.compare_exchange_weak(seen, next)) return next;
  }
}

std::atomic<TickCount64> resolved{nullptr};

// Kernel32's GetTickCount64 where there is one. No lock and no guarded
// static, which the threads runtime itself would have to provide: it calls
// this in the middle of its own waits. Two threads may both look it up;
// they find the same.
ULONGLONG WINAPI TickCountSinceStart() {
  TickCount64 count = resolved.load();
  if (count == nullptr) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found =
        kernel32 != nullptr ? GetProcAddress(kernel32, "GetTickCount64") : nullptr;
    count = found != nullptr ? reinterpret_cast<TickCount64>(reinterpret_cast<void*>(found))
                             : &WidenedTickCount;
    resolved.store(count);
  }
  return count();
}

}  // namespace

extern "C" {
// What the threads runtime calls for GetTickCount64 (see above).
TickCount64 __imp_GetTickCount64 = &TickCountSinceStart;
}
