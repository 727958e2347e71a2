// Every operation of a run fails in turn, with each error the real calls
// give: the run still ends as it should, and every list is as read,
// correctly pruned with its backup, or gone because it was empty. Never a
// partial value, never a changed list whose content is kept nowhere.
#include "invariants/RunInvariants.h"
#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
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
  machine.PutMultiSz(kCdromClassKey, u"LowerFilters", {u"good", u"gone", u"off"});
  machine.PutValue(kCdromClassKey, u"UpperFilters", win::kRegSz,
                   Utf16Bytes(std::u16string_view(u"nodriver\0", 9)));
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
  machine.PutMultiSz(std::u16string(kDeviceBackupKeyPrefix) + u"2", u"UpperFilters_1",
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

int RunOnce(MemoryPlatform& machine) {
  return RunAsProcess(machine, u"Tarvox.exe -silent");
}

using Seed = std::vector<std::u16string> (*)(MemoryPlatform&);

void Sweep(Seed seed) {
  // How many operations a run makes when none fails.
  long operations = 0;
  {
    MemoryPlatform machine;
    seed(machine);
    const long start = machine.operations();
    ASSERT_EQ(RunOnce(machine), 0);
    operations = machine.operations() - start;
  }
  ASSERT_GT(operations, 30);
  for (const Status error : {2u, 3u, 5u, 32u, 122u, 234u, 1018u}) {
    for (long k = 0; k < operations; ++k) {
      MemoryPlatform machine;
      const std::vector<std::u16string> devices = seed(machine);
      const invariants::RunSnapshot before(machine, devices);
      machine.FailOperation(machine.operations() + k, error);
      const int exit_code = RunOnce(machine);
      // Only a refused class key may end the run early, and then with -1.
      const bool no_rights =
          exit_code == -1 && error == win::kAccessDenied &&
          machine.FileBytes(g_logDirectory + u"\\TarvoxTmp.log")
              .value_or("")
              .ends_with("Not enough rights. Must login as administrator\r\n");
      const std::string broken = before.CheckRun(machine, nullptr, true);
      if ((exit_code != 0 && !no_rights) || !broken.empty()) {
        ADD_FAILURE() << "operation " << k << " failing with " << error
                      << ": exit code " << exit_code << "; " << broken;
        return;
      }
    }
  }
}

TEST(FaultSweep, BrokenMachine) { Sweep(SeedBrokenMachine); }
TEST(FaultSweep, OddButSoundMachine) { Sweep(SeedOddButSoundMachine); }

// The machines are rich enough: without faults, both runs keep every rule
// with every valid name checked, and repair what they should.
TEST(FaultSweep, MachinesRepairAsExpectedWithoutFaults) {
  for (const Seed seed : {Seed(SeedBrokenMachine), Seed(SeedOddButSoundMachine)}) {
    MemoryPlatform machine;
    const std::vector<std::u16string> devices = seed(machine);
    const invariants::RunSnapshot before(machine, devices);
    EXPECT_EQ(RunOnce(machine), 0);
    const std::set<std::u16string> valid = invariants::RunSnapshot::ValidNames(machine);
    EXPECT_EQ(before.CheckRun(machine, &valid), "");
    const invariants::RunSnapshot repaired(machine, devices);
    EXPECT_EQ(RunOnce(machine), 0);
    EXPECT_EQ(repaired.CheckNothingRepaired(machine), "");
  }
  MemoryPlatform machine;
  SeedBrokenMachine(machine);
  RunOnce(machine);
  EXPECT_EQ(machine.GetValue(kCdromClassKey, u"LowerFilters")->bytes, ListBytes({u"good"}));
  EXPECT_EQ(machine.GetValue(kCdromClassKey, u"UpperFilters_2")->bytes,
            ListBytes({u"nodriver"}));
  EXPECT_EQ(machine.GetValue(DeviceKey(2), u"UpperFilters")->bytes,
            ListBytes({u"ondemand"}));
  EXPECT_EQ(machine.GetValue(std::u16string(kDeviceBackupKeyPrefix) + u"2",
                             u"UpperFilters_2")
                ->bytes,
            ListBytes({u"ondemand", u"OFF", u"off"}));
}

}  // namespace
}  // namespace tarvox::testing
