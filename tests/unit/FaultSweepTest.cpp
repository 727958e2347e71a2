// Every operation of a run fails in turn, with each error the real calls
// give: the run still ends as it should, and every list is as read,
// correctly pruned with its backup, or gone because it was empty. Never a
// partial value, never a changed list whose content is kept nowhere, and
// never a name lost because something could not be looked at. And the
// verdicts a run keeps change nothing: the same call failing in a run that
// judges every name each time it appears leaves the same machine.
#include <algorithm>
#include <cstring>

#include "invariants/RunInvariants.h"
#include "multisz/MultiSz.h"
#include "support/memory/MemoryFold.h"
#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
#include "support/RecordedRun.h"
#include "unit/RunFixture.h"

namespace tarvox::testing {
namespace {

constexpr std::u16string_view kProduct = u"C:\\Program Files\\Orvane";

std::u16string DeviceKey(int n) {
  return u"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\000" +
         std::u16string(1, char16_t(u'0' + n));
}

// A machine with something to do in every place the tool looks.
std::vector<std::u16string> SeedBrokenMachine(MemoryPlatform& machine) {
  SeedFilterServices(machine);
  machine.PutString(u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\orvane.exe",
                    u"Path", kProduct);
  machine.AddFile(std::u16string(kProduct) + u"\\Tarvox.log", "older run\r\n");
  // An earlier run that ended early left its lines.
  machine.AddFile(std::u16string(kProduct) + u"\\TarvoxTmp.log", "ended early\r\n");
  // A service whose key refuses reading, and one whose driver lies where it
  // cannot be seen: both stay, whatever else fails.
  machine.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\guarded", u"Start", 4);
  machine.DenyAccess(u"SYSTEM\\CurrentControlSet\\Services\\guarded", win::kKeyQueryValue);
  machine.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\remote", u"Start", 1);
  machine.PutString(u"SYSTEM\\CurrentControlSet\\Services\\remote", u"ImagePath",
                    u"\\??\\N:\\drivers\\remote.sys");
  machine.MakeUnreachable(u"N:\\", win::kBadNetPath);
  machine.PutMultiSz(kCdromClassKey, u"LowerFilters",
                     {u"good", u"gone", u"off", u"guarded", u"remote"});
  // The rest of a list written with the wrong type.
  machine.PutValue(kCdromClassKey, u"UpperFilters", win::kRegSz,
                   Utf16Bytes(std::u16string_view(u"nodriver\0good\0", 15)));
  machine.PutMultiSz(kCdromClassKey, u"UpperFilters_1", {u"first"});
  machine.PutMultiSz(kCoDeviceInstallersKey, kCdromClassGuid,
                     {u"cdprop.dll,Pages", u"OrvaneCo.dll,Install"});
  machine.PutMultiSz(kCdromCriticalDeviceKey, u"LowerFilters", {u"offbak", u"abc"});
  machine.PutValue(kCdromCriticalDeviceKey, u"UpperFilters", win::kRegExpandSz,
                   Utf16Bytes(std::u16string_view(u"gone\0", 5)));
  std::vector<std::u16string> devices;
  for (int n = 0; n < 3; ++n) {
    machine.AddCdromDevice(DeviceKey(n).substr(30));
    devices.push_back(DeviceKey(n));
  }
  machine.PutMultiSz(devices[0], u"LowerFilters", {u"gone", u"good"});
  machine.PutMultiSz(devices[0], u"UpperFilters", {u"abc"});
  machine.PutValue(devices[1], u"UpperFilters", win::kRegSz,
                   Utf16Bytes(std::u16string_view(u"abc\0", 4)));
  machine.PutMultiSz(devices[2], u"UpperFilters", {u"ondemand", u"OFF", u"off"});
  // The first backup, its name written in another letter case.
  machine.PutMultiSz(std::u16string(kDeviceBackupKeyPrefix) + u"2", u"upperfilters_1",
                     {u"first"});
  return devices;
}

// A machine whose lists are all sound but stored oddly.
std::vector<std::u16string> SeedOddButSoundMachine(MemoryPlatform& machine) {
  SeedFilterServices(machine);
  machine.PutKey(kCoDeviceInstallersKey);
  machine.PutValue(kCdromClassKey, u"LowerFilters", win::kRegMultiSz,
                   Utf16Bytes(std::u16string_view(u"good\0\0junk", 10)));
  machine.PutValue(kCdromClassKey, u"UpperFilters", win::kRegMultiSz, "");
  machine.PutValue(kCdromCriticalDeviceKey, u"LowerFilters", win::kRegSz,
                   Utf16Bytes(u"ondemand"));
  machine.AddCdromDevice(u"ROOT\\CDROM\\0000");
  machine.PutValue(DeviceKey(0), u"LowerFilters", win::kRegBinary, std::string(8, '\0'));
  machine.PutMultiSz(DeviceKey(0), u"UpperFilters", {u"good2", u"ondemand"});
  return {DeviceKey(0)};
}

// A run as a process; without `keep_verdicts`, every name is judged each
// time it appears. `told`: what the run tells it did. Every run is
// observed, as telling makes calls of its own (a device's instance id):
// the sweep's runs make the same calls, so operation k is the same call in
// each.
int RunOnce(MemoryPlatform& machine, bool keep_verdicts = true, RecordedRun* told = nullptr) {
  NoPassedNames none;
  RecordedRun untold;
  return RunAsProcess(machine, u"Tarvox.exe -silent", keep_verdicts ? nullptr : &none,
                      told != nullptr ? told : &untold);
}

using Seed = std::vector<std::u16string> (*)(MemoryPlatform&);
using Trace = std::vector<MemoryPlatform::Operation>;

// Where in `without` the operation `k` of `with` stands: the same call
// about the same thing, as often made before. A run that keeps verdicts
// makes the calls of one that does not, in their order, less each name's
// lookups after its first pass.
long SameOperation(const Trace& with, long k, const Trace& without) {
  const auto same = [&](const MemoryPlatform::Operation& a) {
    return a.operation == with[k].operation &&
           memory::Fold(a.subject) == memory::Fold(with[k].subject);
  };
  long occurrence = std::count_if(with.begin(), with.begin() + k + 1, same);
  for (long j = 0; j < static_cast<long>(without.size()); ++j) {
    if (same(without[j]) && --occurrence == 0) return j;
  }
  return -1;
}

struct CleanRun {
  MemoryPlatform machine;
  long start = 0;
  Trace trace;
};

void RunClean(Seed seed, bool keep_verdicts, CleanRun* run) {
  seed(run->machine);
  run->start = run->machine.operations();
  run->machine.KeepTrace();
  ASSERT_EQ(RunOnce(run->machine, keep_verdicts), 0);
  run->trace = run->machine.trace();
}

void Sweep(Seed seed) {
  // The run without a fault, both with the verdicts a run keeps and
  // without them, and the operations each makes.
  CleanRun clean;
  CleanRun reference;
  RunClean(seed, true, &clean);
  RunClean(seed, false, &reference);
  ASSERT_EQ(invariants::SameOutcome(clean.machine, reference.machine), "");
  const long operations = static_cast<long>(clean.trace.size());
  ASSERT_GT(operations, 30);
  // What the registry calls answer, and what file calls answer when a path
  // names no file (15, 123, 267) or cannot be reached (21, 33, 53).
  for (const Status error :
       {2u, 3u, 5u, 32u, 122u, 234u, 1018u, 15u, 21u, 33u, 53u, 123u, 267u}) {
    for (long k = 0; k < operations; ++k) {
      MemoryPlatform machine;
      const std::vector<std::u16string> devices = seed(machine);
      const invariants::RunSnapshot before(machine, devices);
      machine.FailOperation(machine.operations() + k, error);
      RecordedRun told;
      const int exit_code = RunOnce(machine, true, &told);
      const bool logged = RunLog.wrote_lines();
      // Only a refused class key may end the run early, and then with -1.
      const bool no_rights =
          exit_code == -1 && error == win::kAccessDenied &&
          machine.FileBytes(g_logDirectory + u"\\TarvoxTmp.log")
              .value_or("")
              .ends_with("Not enough rights. Must login as administrator\r\n");
      std::string broken =
          before.CheckRun(machine, told, nullptr, logged,
                          machine.fired_fault() ? &*machine.fired_fault() : nullptr);
      if (broken.empty() && machine.fired_fault()) {
        broken = before.CheckFaultCostsNoName(clean.machine, machine,
                                              *machine.fired_fault(), u"C:\\windows");
      }
      // The same call failing in a run that keeps no verdicts leaves the
      // same machine.
      const long same = SameOperation(clean.trace, k, reference.trace);
      if (broken.empty() && same < 0) broken = "no such operation without kept verdicts";
      if (broken.empty()) {
        MemoryPlatform without;
        seed(without);
        without.FailOperation(without.operations() + same, error);
        const int without_exit_code = RunOnce(without, false);
        broken = invariants::SameOutcome(machine, without);
        if (broken.empty() && without_exit_code != exit_code) broken = "exit codes differ";
        if (!broken.empty()) broken = "with and without kept verdicts: " + broken;
      }
      if ((exit_code != 0 && !no_rights) || !broken.empty()) {
        ADD_FAILURE() << "operation " << k << " (" << clean.trace[k].operation
                      << ") failing with " << error << ": exit code " << exit_code
                      << "; " << broken;
        return;
      }
    }
  }
}

TEST(FaultSweep, BrokenMachine) { Sweep(SeedBrokenMachine); }
TEST(FaultSweep, OddButSoundMachine) { Sweep(SeedOddButSoundMachine); }

// Another program (an installer) adds a filter of its own to a list, as it
// finds it, while a run is under way: its filter is healthy, so it stays.
constexpr std::u16string_view kTheirFilter = u"theirflt";
constexpr std::u16string_view kTheirCoInstaller = u"TheirCo.dll,TheirCoInstaller";

// What the other program does to the list: adds its filter (the list grows),
// or changes it without changing its size, which only a comparison of every
// byte tells: puts a healthy filter of its own in place of the first name,
// spelled as long, or turns the list around.
enum class TheirChange { kAdd, kReplace, kReverse };

// The change, made to the list as it is; what the list holds then, and the
// filter of the other program that must stay (none for a list turned
// around).
std::pair<MemoryPlatform::StoredValue, std::u16string> MakeTheirChange(
    MemoryPlatform& machine, std::u16string_view key, std::u16string_view name,
    std::u16string_view theirs, TheirChange change) {
  MultiSz list;
  if (const auto found = machine.GetValue(key, name)) {
    std::memcpy(list.data(), found->bytes.data(),
                std::min<std::size_t>(found->bytes.size(), MultiSz::kBytes));
  }
  Entries entries = MultiSzEntries(list);
  std::u16string stays(theirs);
  switch (change) {
    case TheirChange::kAdd:
      entries.emplace_back(theirs);
      break;
    case TheirChange::kReplace:
      if (entries.empty()) return {{}, {}};
      // As long as the name it replaces, and a service that may stay.
      stays = u"T" + std::u16string(entries.front().size() - 1, u'q');
      machine.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\" + stays, u"Start", 3);
      machine.AddFile(u"C:\\windows\\system32\\drivers\\" + stays + u".sys", "MZ");
      entries.front() = stays;
      break;
    case TheirChange::kReverse:
      std::reverse(entries.begin(), entries.end());
      stays.clear();
      break;
  }
  machine.PutValue(key, name, win::kRegMultiSz, ListBytes(entries));
  return {{win::kRegMultiSz, ListBytes(entries)}, stays};
}

// Whether a change of `value` right before operation `k` fell between the
// run's read of it and its write of it, with no operation between: no
// program can see such a change, for the registry has no write "only if
// unchanged".
bool Unseeable(const Trace& trace, long k, std::u16string_view value) {
  const auto on = [&](long at, std::initializer_list<std::string_view> operations) {
    return at >= 0 && at < static_cast<long>(trace.size()) &&
           memory::Fold(trace[at].value) == memory::Fold(value) &&
           std::find(operations.begin(), operations.end(), trace[at].operation) !=
               operations.end();
  };
  return on(k, {"SetValue", "DeleteValue", "SetDeviceProperty"}) &&
         on(k - 1, {"QueryValue", "GetDeviceProperty"});
}

// Right before every operation of a run in turn, another program changes
// one list, each list in turn, in each of its ways: its change is never
// lost, and every backup holds a value its list really held.
void SweepSecondWriter(Seed seed) {
  const auto arrange = [&](MemoryPlatform& machine) {
    const std::vector<std::u16string> devices = seed(machine);
    machine.PutDword(u"SYSTEM\\CurrentControlSet\\Services\\theirflt", u"Start", 3);
    machine.AddFile(u"C:\\windows\\system32\\drivers\\theirflt.sys", "MZ");
    return devices;
  };
  CleanRun clean;
  const std::vector<std::u16string> devices = arrange(clean.machine);
  clean.machine.KeepTrace();
  ASSERT_EQ(RunOnce(clean.machine), 0);
  const long operations = static_cast<long>(clean.machine.trace().size());
  std::vector<std::pair<std::u16string, std::u16string>> lists = {
      {std::u16string(kCoDeviceInstallersKey), std::u16string(kCdromClassGuid)}};
  for (const std::u16string_view key : {kCdromClassKey, kCdromCriticalDeviceKey}) {
    for (const auto name : {u"LowerFilters", u"UpperFilters"}) lists.emplace_back(std::u16string(key), name);
  }
  for (const auto& device : devices) {
    for (const auto name : {u"LowerFilters", u"UpperFilters"}) lists.emplace_back(device, name);
  }
  for (long k = 0; k < operations; ++k) {
    for (const auto& [key, name] : lists) {
      const bool co_installer = key == kCoDeviceInstallersKey;
      const std::u16string_view theirs = co_installer ? kTheirCoInstaller : kTheirFilter;
      for (const TheirChange change :
           {TheirChange::kAdd, TheirChange::kReplace, TheirChange::kReverse}) {
        // The co-installer list is only ever added to.
        if (co_installer && change != TheirChange::kAdd) continue;
        MemoryPlatform machine;
        arrange(machine);
        const invariants::RunSnapshot before(machine, devices);
        std::pair<MemoryPlatform::StoredValue, std::u16string> made;
        machine.KeepTrace();
        machine.BeforeOperation(machine.operations() + k, [&] {
          made = MakeTheirChange(machine, key, name, theirs, change);
        });
        const int exit_code = RunOnce(machine);
        if (made.first.type == 0) continue;  // nothing to replace
        std::string broken =
            before.CheckSecondWriter(machine, key, name, made.first, made.second,
                                     Unseeable(machine.trace(), k, key + u'\\' + name));
        if (exit_code != 0 || !broken.empty()) {
          ADD_FAILURE() << "another program changing (" << static_cast<int>(change) << ") "
                        << invariants::Narrow(key) << " " << invariants::Narrow(name)
                        << " before operation " << k << " (" << clean.machine.trace()[k].operation
                        << "): exit code " << exit_code << "; " << broken;
          return;
        }
      }
    }
  }
}

TEST(FaultSweep, SecondWriterOnBrokenMachine) { SweepSecondWriter(SeedBrokenMachine); }
TEST(FaultSweep, SecondWriterOnOddButSoundMachine) { SweepSecondWriter(SeedOddButSoundMachine); }

// The machines are rich enough: without faults, both runs keep every rule
// with every valid name checked, and repair what they should.
TEST(FaultSweep, MachinesRepairAsExpectedWithoutFaults) {
  for (const Seed seed : {Seed(SeedBrokenMachine), Seed(SeedOddButSoundMachine)}) {
    MemoryPlatform machine;
    const std::vector<std::u16string> devices = seed(machine);
    const invariants::RunSnapshot before(machine, devices);
    RecordedRun told;
    EXPECT_EQ(RunOnce(machine, true, &told), 0);
    const std::set<std::u16string> must_stay =
        invariants::RunSnapshot::NamesThatMustStay(machine, u"C:\\windows");
    EXPECT_EQ(before.CheckRun(machine, told, &must_stay, RunLog.wrote_lines()), "");
    const invariants::RunSnapshot repaired(machine, devices);
    EXPECT_EQ(RunOnce(machine), 0);
    EXPECT_EQ(repaired.CheckNothingRepaired(machine), "");
  }
  MemoryPlatform machine;
  SeedBrokenMachine(machine);
  RunOnce(machine);
  EXPECT_EQ(machine.GetValue(kCdromClassKey, u"LowerFilters")->bytes,
            ListBytes({u"good", u"guarded", u"remote"}));
  // The single string as it was read, its second name included.
  EXPECT_EQ(machine.GetValue(kCdromClassKey, u"UpperFilters_2")->bytes,
            Utf16Bytes(std::u16string_view(u"nodriver\0good\0", 15)));
  EXPECT_EQ(machine.GetValue(DeviceKey(2), u"UpperFilters")->bytes,
            ListBytes({u"ondemand"}));
  EXPECT_EQ(machine.GetValue(std::u16string(kDeviceBackupKeyPrefix) + u"2",
                             u"UpperFilters_2")
                ->bytes,
            ListBytes({u"ondemand", u"OFF", u"off"}));
  EXPECT_EQ(machine.GetValue(std::u16string(kDeviceBackupKeyPrefix) + u"2",
                             u"UpperFilters_1")
                ->bytes,
            ListBytes({u"first"}));
  EXPECT_EQ(machine.FileBytes(std::u16string(kProduct) + u"\\Tarvox.log")
                .value_or("")
                .substr(0, 13),
            "ended early\r\n");
}

}  // namespace
}  // namespace tarvox::testing
