// What a run costs as the machine grows. Seeds a machine of S services (each
// with "Start", an ImagePath and its driver file) and D CD-ROM devices, with
// four names in each of the four key lists and in both lists of every
// device, and times whole runs of the tool on it:
//   first run   one name in four has no service (the lists are seeded again
//               before every timed run, so each is a first run);
//   repeat run  every name valid, nothing to repair.
// It prints one row: the median times, the platform calls of a repeat run
// by kind and per judged name, and the process's peak memory.
//
// The shape of the machine:
//   --shared    every device carries the class key's filters, as on real
//               machines where service packs copied class filters into each
//               device (without it, every list has names of its own: the
//               worst case);
//   --drivers   ImagePaths in the form "System32\DRIVERS\<name>.sys", as
//               Windows writes many of its own (without it,
//               "\SystemRoot\System32\drivers\<name>.sys").
//
//   tarvox_bench [shape] S D  the row, on this process's backend
//   tarvox_bench --exe PATH [shape] S D
//                             (Windows) also times PATH, a Tarvox.exe, as a
//                             process: on the empty machine first (a bare
//                             start, the floor), then on the seeded one, in
//                             the same prefix and the same run
//   tarvox_bench --times [shape] S D
//                             also the milliseconds a repeat run spent in
//                             each kind of call
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/RepairApp.h"
#include "bench/CountingPlatform.h"
#include "log/RunLog.h"
#include "platform/RegKey.h"
#include "platform/RunState.h"
#include "repair/KeyFilterList.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#include "platform/win32/Win32Platform.h"
#else
#include <sys/resource.h>
#include "support/memory/MemoryPlatform.h"
#endif

namespace tarvox::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::u16string_view kServices = u"SYSTEM\\CurrentControlSet\\Services\\";
constexpr int kNamesPerList = 4;
constexpr int kTimedRuns = 5;
constexpr double kRowBudgetMs = 60000;  // fewer runs for very slow rows

std::u16string Text(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::u16string Number(int n) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", n);
  return Text(digits);
}

void Put(Platform& os, std::u16string_view key, std::u16string_view name,
         std::uint32_t type, const std::u16string& units) {
  RegKey open(os);
  if (open.Create(key, win::kKeySetValue) != win::kSuccess ||
      open.SetValue(name, type, units.data(),
                    static_cast<std::uint32_t>(units.size() * 2)) != win::kSuccess) {
    std::fprintf(stderr, "could not seed a value\n");
    std::exit(1);
  }
}

std::u16string List(const std::vector<std::u16string>& names) {
  std::u16string units;
  for (const auto& name : names) units += name + u'\0';
  return units + u'\0';
}

struct Machine {
  int services;
  int devices;
  std::u16string windows;
  bool shared = false;
  bool drivers_form = false;

  std::u16string Service(int n) const { return u"bsvc" + Number(n % services); }
  std::u16string DeviceKey(int n) const {
    return u"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\" + Number(n);
  }

  void SeedServicesAndDevices(Platform& os) const {
    for (int n = 0; n < services; ++n) {
      const std::u16string key = std::u16string(kServices) + Service(n);
      const std::uint32_t start = 1;
      RegKey open(os);
      open.Create(key, win::kKeySetValue);
      open.SetValue(u"Start", win::kRegDword, &start, 4);
      Put(os, key, u"ImagePath", win::kRegExpandSz,
          (drivers_form ? u"System32\\DRIVERS\\" : u"\\SystemRoot\\System32\\drivers\\") +
              Service(n) + u".sys" + u'\0');
      FileHandle file = kNoFile;
      bool created = false;
      if (os.OpenAppendFile(windows + u"\\system32\\drivers\\" + Service(n) + u".sys",
                            &file, &created) == win::kSuccess) {
        os.AppendToFile(file, "MZ");
        os.CloseFile(file);
      }
    }
    for (int n = 0; n < devices; ++n) {
      Put(os, DeviceKey(n), u"ClassGUID", win::kRegSz,
          std::u16string(u"{4D36E965-E325-11CE-BFC1-08002BE10318}") + u'\0');
    }
  }

  // Four names a list, spread over the services; with `broken`, the last of
  // every four has no service.
  std::u16string Names(int list, bool broken) const {
    std::vector<std::u16string> names;
    for (int i = 0; i < kNamesPerList; ++i) {
      const int n = (list * kNamesPerList + i) * 7919;
      names.push_back(broken && i == kNamesPerList - 1 ? u"bgone" + Number(list % 10000)
                                                        : Service(n));
    }
    return List(names);
  }

  void SeedLists(Platform& os, bool broken) const {
    int list = 0;
    for (const auto key : {kCdromClassKey, kCdromCriticalDeviceKey}) {
      for (const auto name : {u"LowerFilters", u"UpperFilters"}) {
        Put(os, key, name, win::kRegMultiSz, Names(list++, broken));
      }
    }
    Put(os, u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers", u"x",
        win::kRegSz, std::u16string(1, u'\0'));
    for (int n = 0; n < devices; ++n) {
      int class_list = 0;
      for (const auto name : {u"LowerFilters", u"UpperFilters"}) {
        Put(os, DeviceKey(n), name, win::kRegMultiSz,
            Names(shared ? class_list++ : list++, broken));
      }
    }
  }

  void RemoveLists(Platform& os) const {
    const auto remove = [&](std::u16string_view key) {
      RegKey open(os);
      if (open.Open(key, win::kKeySetValue) != win::kSuccess) return;
      open.DeleteValue(u"LowerFilters");
      open.DeleteValue(u"UpperFilters");
    };
    remove(kCdromClassKey);
    remove(kCdromCriticalDeviceKey);
    for (int n = 0; n < devices; ++n) remove(DeviceKey(n));
  }

  int JudgedNames() const { return (4 + 2 * devices) * kNamesPerList; }
};

double RunOnce(CountingPlatform& os) {
  RunLog.Close();
  g_changesMade = 0;
  const auto start = Clock::now();
  RepairApp(os).Run();
  const std::chrono::duration<double, std::milli> took = Clock::now() - start;
  RunLog.Close();
  return took.count();
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times.empty() ? 0 : times[times.size() / 2];
}

double PeakMegabytes() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize / 1048576.0;
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
#endif
}

#ifdef _WIN32
// Tarvox.exe as a process, its whole exit awaited, in milliseconds.
double StartAndWait(const std::wstring& exe) {
  std::wstring line = L"\"" + exe + L"\" -silent";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const auto start = Clock::now();
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    std::fprintf(stderr, "could not start Tarvox.exe\n");
    std::exit(1);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Medians of runs of Tarvox.exe on the machine, each followed by a bare
// start: one that stops at the single-instance guard, because the bench
// holds it. A bare start on an empty machine costs the same within a few
// milliseconds; run side by side, the two see the same machine at the same
// moment, so their ratio does not drift with whatever else the machine is
// doing. With `reseed`, the broken lists are seeded again before each run.
struct ProcessTimes {
  double run;
  double bare;
};

constexpr int kProcessRuns = 9;

ProcessTimes ProcessRunMs(const std::wstring& exe, const Machine* reseed, Platform& os) {
  std::vector<double> runs;
  std::vector<double> bares;
  for (int run = 0; run < kProcessRuns; ++run) {
    if (reseed != nullptr) reseed->SeedLists(os, true);
    runs.push_back(StartAndWait(exe));
    // A start finds the global name first and stops there.
    const HANDLE guard = CreateMutexW(nullptr, TRUE, L"Global\\TarvoxAppSingleIstanceMutex");
    bares.push_back(StartAndWait(exe));
    CloseHandle(guard);
  }
  return {Median(runs), Median(bares)};
}
#endif

int Main(int argc, char** argv) {
  std::string exe;
  bool times = false;
  bool shared = false;
  bool drivers_form = false;
  std::vector<int> sizes;
  for (int arg = 1; arg < argc; ++arg) {
    const std::string word = argv[arg];
    if (word == "--exe" && arg + 1 < argc) {
      exe = argv[++arg];
    } else if (word == "--times") {
      times = true;
    } else if (word == "--shared") {
      shared = true;
    } else if (word == "--drivers") {
      drivers_form = true;
    } else {
      sizes.push_back(std::atoi(word.c_str()));
    }
  }
  if (sizes.size() != 2) {
    std::fprintf(stderr,
                 "usage: tarvox_bench [--exe PATH] [--times] [--shared] [--drivers] S D\n");
    return 2;
  }
#ifdef _WIN32
  Win32Platform real;
  const char* backend = "wine";
#else
  MemoryPlatform real;
  const char* backend = "memory";
#endif
  Machine machine{sizes[0], sizes[1],
                  real.ReadEnvironment(u"SystemRoot").value_or(u"C:\\windows"), shared,
                  drivers_form};
  CountingPlatform os(real);
#ifdef _WIN32
  // The floor, measured on this very prefix before anything is seeded.
  double bare = 0;
  if (!exe.empty()) bare = ProcessRunMs(std::wstring(exe.begin(), exe.end()), nullptr, real).run;
#endif
  const char* shape = shared ? (drivers_form ? "shr-DRV" : "shared") : (drivers_form ? "own-DRV" : "own");
  if (machine.services > 0) {
    machine.SeedServicesAndDevices(real);
    std::vector<double> first;
    const auto row_start = Clock::now();
    for (int run = 0; run < kTimedRuns; ++run) {
      machine.SeedLists(real, true);
      first.push_back(RunOnce(os));
      if (std::chrono::duration<double, std::milli>(Clock::now() - row_start).count() >
          kRowBudgetMs) {
        break;
      }
    }
    // Every name valid from here on: the repeat runs judge all of them and
    // repair nothing.
    machine.SeedLists(real, false);
    RunOnce(os);
    std::vector<double> repeat;
    for (int run = 0; run < static_cast<int>(first.size()); ++run) {
      os.Reset();
      repeat.push_back(RunOnce(os));
    }
    std::printf("%-6s %-7s %5d %3d %5d %10.1f %10.1f %9.1f", backend, shape,
                machine.services, machine.devices, machine.JudgedNames(), Median(first),
                Median(repeat),
                static_cast<double>(os.total()) / machine.JudgedNames());
    for (int call = 0; call < static_cast<int>(Call::kCount); ++call) {
      std::printf(" %7llu", static_cast<unsigned long long>(os.count(static_cast<Call>(call))));
    }
    std::printf(" %7.1f\n", PeakMegabytes());
    if (times) {
      std::printf("  ms in each kind of call, last repeat run:");
      for (int call = 0; call < static_cast<int>(Call::kCount); ++call) {
        std::printf(" %s %.1f;", CallName(static_cast<Call>(call)),
                    os.milliseconds(static_cast<Call>(call)));
      }
      std::printf("\n");
    }
  }
#ifdef _WIN32
  if (!exe.empty()) {
    const std::wstring path(exe.begin(), exe.end());
    if (machine.services == 0) {
      std::printf("Tarvox.exe as a process, bare start on an empty machine: %.1f ms\n", bare);
    } else {
      const ProcessTimes repeat = ProcessRunMs(path, nullptr, real);
      const ProcessTimes first = ProcessRunMs(path, &machine, real);
      // The devices alone: what Windows' device services cost a run with
      // not one filter list to judge.
      machine.RemoveLists(real);
      const ProcessTimes devices = ProcessRunMs(path, nullptr, real);
      std::printf("%-7s S = %d, D = %d: bare start %.1f ms (empty machine %.1f); "
                  "first run %.1f ms = %.2f x; repeat run %.1f ms = %.2f x; "
                  "devices alone %.1f ms = %.2f x\n",
                  shape, machine.services, machine.devices, repeat.bare, bare, first.run,
                  first.run / first.bare, repeat.run, repeat.run / repeat.bare,
                  devices.run, devices.run / devices.bare);
    }
  }
#endif
  return 0;
}

}  // namespace
}  // namespace tarvox::bench

int main(int argc, char** argv) { return tarvox::bench::Main(argc, argv); }
