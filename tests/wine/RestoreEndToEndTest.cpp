// TarvoxRestore.exe for real: a filter a repair removed put back where it
// stood after its service was enabled again, on the device it came from
// although another drive now comes first, with the exit codes support
// staff and their scripts read.
#include <windows.h>
#include <setupapi.h>

#include <algorithm>

#include "wine/EndToEndFixture.h"

namespace tarvox::wintest {
namespace {

const std::wstring kDevice = L"ROOT\\CDROM\\0001";
const std::wstring kDeviceKey = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0001";

struct Restored {
  ProgramEnd end;
  std::string out;
  std::string err;
};

Restored Restore(const std::wstring& arguments) {
  Restored run;
  run.end = RunConsoleProgram(L"\"" + RestoreExe() + L"\" " + arguments, 30000, &run.out, &run.err);
  EXPECT_TRUE(run.end.ended);
  return run;
}

TEST_F(EndToEnd, RestorePutsAFilterBackOnItsDeviceAfterTheDevicesChanged) {
  RegisterProductFolder();
  SeedQuietMachine();
  Service(L"tvgood", 1);
  Service(L"tvoff", 4);
  PutMultiSz(kClassKey, L"LowerFilters", {L"tvgood", L"tvoff"});
  AddCdromDevice(kDevice);
  PutMultiSz(kDeviceKey, L"UpperFilters", {L"tvoff", L"tvgood"});
  ASSERT_EQ(RunTarvox(L"-silent").exit_code, 0u);
  ASSERT_EQ(GetValue(kClassKey, L"LowerFilters"), Multi({L"tvgood"}));
  const auto backups = GetValue(L"SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0", L"UpperFilters_1");

  // Still disabled: a repair would take it again.
  const Restored disabled = Restore(L"--name tvoff");
  EXPECT_EQ(disabled.end.exit_code, 2u);
  EXPECT_NE(disabled.err.find("its start type does not let Windows load it"), std::string::npos);

  // Enabled again, and another drive now comes first in Windows' list.
  Service(L"tvoff", 3);
  AddCdromDevice(L"ROOT\\CDROM\\0000");
  PutMultiSz(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\CDROM\\0000", L"UpperFilters", {L"tvgood"});
  const Restored look = Restore(L"--name tvoff");
  EXPECT_EQ(look.end.exit_code, 1u) << look.err;
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), Multi({L"tvgood"}));

  const Restored made = Restore(L"--NAME tvoff --apply");
  EXPECT_EQ(made.end.exit_code, 0u) << made.err;
  EXPECT_EQ(GetValue(kClassKey, L"LowerFilters"), Multi({L"tvgood", L"tvoff"}));
  EXPECT_EQ(DeviceProperty(kDevice, SPDRP_UPPERFILTERS), Multi({L"tvoff", L"tvgood"}));
  EXPECT_EQ(DeviceProperty(L"ROOT\\CDROM\\0000", SPDRP_UPPERFILTERS), Multi({L"tvgood"}));
  EXPECT_EQ(GetValue(L"SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0", L"UpperFilters_1"), backups);
  const std::string log = ReadFileBytes(In(kProductFolder, L"TarvoxRestore.log")).value_or("");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  EXPECT_FALSE(FileExists(In(kProductFolder, L"Tarvox.log")));

  // Nothing left to repair, and nothing left to put back.
  std::string out;
  std::string err;
  EXPECT_EQ(RunConsoleProgram(L"\"" + CheckExe() + L"\"", 30000, &out, &err).exit_code, 0u) << out;
  EXPECT_EQ(Restore(L"--name tvoff").end.exit_code, 0u);
  EXPECT_EQ(Restore(L"").end.exit_code, 0u);
  EXPECT_EQ(Restore(L"--apply").end.exit_code, 2u);
  EXPECT_EQ(Restore(L"--help --name tvoff").end.exit_code, 2u);

  // The listing dates the backup by its record; one another writer
  // replaced names no device any more.
  const Restored listed = Restore(L"");
  EXPECT_NE(listed.out.find("UpperFilters_1 (first repair at position 0, written 20"),
            std::string::npos) << listed.out;
  PutMultiSz(L"SOFTWARE\\Kestrow\\OrvaneTarvox\\BackupDeviceNr0", L"UpperFilters_1",
             {L"tvgood", L"tvoff"});
  const Restored replaced = Restore(L"");
  EXPECT_NE(replaced.out.find("it is not the backup its device was named with"), std::string::npos)
      << replaced.out;
}

}  // namespace
}  // namespace tarvox::wintest
