// Whole runs of the tool, all seven checks, on an in-memory machine decoded
// from the input: services with any start type and ImagePath, driver files
// and ".bak" copies, the four key lists, the co-installer value and CD-ROM
// devices, their values of any type, byte count and content; keys and files
// that cannot be looked at (a Services key that refuses listing, service
// keys that refuse reading, files on a network or device that does not
// answer, or held open), no Windows folder, logs an earlier run left (one
// planted as a hard link, one read-only or held by another program), a
// backup key's parent that refuses subkeys, file
// paths in every spelling Windows takes for one file; Windows 7 or 10.
// After every run the rules of RunInvariants must hold, no name may leave a
// list without evidence, the exit code must be 0 unless the run has no
// rights, and a second run must repair nothing more.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/RepairApp.h"
#include "check/CheckRun.h"
#include "check/Report.h"
#include "invariants/ReportModel.h"
#include "invariants/RunInvariants.h"
#include "log/RunLog.h"
#include "support/memory/MemoryPlatform.h"
#include "platform/overlay/OverlayPlatform.h"
#include "platform/RunState.h"
#include "repair/CoInstaller.h"
#include "repair/DeviceFilters.h"
#include "multisz/Names.h"
#include "repair/KeyFilterList.h"
#include "restore/Backups.h"
#include "restore/PutBack.h"
#include "restore/RestoreRun.h"
#include "services/DriverFile.h"
#include "services/PassedNames.h"
#include "support/NoPassedNames.h"
#include "support/RecordedRun.h"
#include "support/Replay.h"

namespace {

using tarvox::MemoryPlatform;
namespace win = tarvox::win;
using tarvox::Status;

// Filter and service names: services exist for all but the last; lists
// name them in any letter case.
const std::u16string kNames[] = {u"flt", u"Flt2", u"cd", u"a", u"x\u00e9", u"gone"};
constexpr std::size_t kServiceNames = 5;

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  // Exactly `wanted` bytes: the input's, then a filler of names once the
  // input runs out, so every length up to past 2048 bytes is reached.
  std::string Bytes(std::size_t wanted) {
    const std::size_t taken = std::min(wanted, size);
    std::string bytes(reinterpret_cast<const char*>(data), taken);
    data += taken;
    size -= taken;
    static const std::string kFiller("f\0l\0t\0\0\0", 8);
    while (bytes.size() < wanted) bytes += kFiller[bytes.size() % kFiller.size()];
    return bytes;
  }
  std::uint32_t Type() {
    static const std::uint32_t kTypes[] = {
        win::kRegMultiSz, win::kRegMultiSz, win::kRegMultiSz, win::kRegSz,
        win::kRegExpandSz, win::kRegBinary, win::kRegDword, win::kRegNone, 11};
    return kTypes[Byte() % std::size(kTypes)];
  }
};

std::string Utf16(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// Upper case as Windows folds file names, for the letters the names hold.
std::u16string Upper(std::u16string text) {
  for (auto& unit : text) {
    if ((unit >= u'a' && unit <= u'z') || unit == u'\u00e9') unit = char16_t(unit - 32);
  }
  return text;
}

std::u16string Spelled(Reader& in, std::size_t index) {
  std::u16string name = kNames[index % std::size(kNames)];
  const std::uint8_t how = in.Byte();
  for (auto& unit : name) {
    if ((how & 1) && unit >= u'a' && unit <= u'z') unit = char16_t(unit - 32);
    if ((how & 2) && unit == u'\u00e9') unit = u'\u00c9';
  }
  return name;
}

// A value as a list of names (maybe with bytes after its end) or as raw
// bytes of any length up to 2199; nullopt for no value.
std::optional<MemoryPlatform::StoredValue> Value(Reader& in) {
  const std::uint8_t mode = in.Byte() % 4;
  if (mode == 0) return std::nullopt;
  const std::uint32_t type = in.Type();
  if (mode == 1) {
    const std::size_t length = (in.Byte() | (in.Byte() << 8)) % 2200;
    return MemoryPlatform::StoredValue{type, in.Bytes(length)};
  }
  std::u16string units;
  for (std::size_t n = in.Byte() % 5; n > 0; --n) {
    units += Spelled(in, in.Byte()) + u'\0';
  }
  if (mode == 3) units += u'\0';  // closed
  std::string bytes = Utf16(units);
  bytes += in.Bytes(in.Byte() % 4);  // maybe something after it
  return MemoryPlatform::StoredValue{type, bytes};
}

void Put(MemoryPlatform& machine, std::u16string_view key, std::u16string_view name,
         const std::optional<MemoryPlatform::StoredValue>& value) {
  if (value) machine.PutValue(key, name, value->type, value->bytes);
}

// What a file operation may answer for a file that is there but cannot be
// seen.
Status Unseen(Reader& in) {
  static const Status kErrors[] = {5, 21, 32, 53, 1231};
  return kErrors[in.Byte() % std::size(kErrors)];
}

void AddService(MemoryPlatform& machine, Reader& in, const std::u16string& name) {
  const std::u16string key = u"SYSTEM\\CurrentControlSet\\Services\\" + name;
  machine.PutKey(key);
  const std::uint8_t access = in.Byte() % 8;
  if (access == 0) machine.DenyAccess(key, win::kKeyQueryValue);
  // The key opens, but its start type cannot be read (a hive that cannot
  // be read): the name is not judged, and stays.
  const bool start_unreadable = access == 1;
  switch (in.Byte() % 4) {
    case 0: break;  // no start type
    case 1: machine.PutDword(key, u"Start", in.Byte() % 6); break;
    case 2: machine.PutValue(key, u"Start", win::kRegDword, in.Bytes(in.Byte() % 9)); break;
    default: machine.PutDword(key, u"Start", 0xFFFFFFFF); break;
  }
  if (start_unreadable) machine.FailReads(key, u"Start", 1016);
  const std::u16string sys = name + u".sys";
  const std::u16string templates[] = {
      u"",
      u"%SystemRoot%\\system32\\drivers\\" + sys,
      u"System32\\DRIVERS\\" + sys,
      u"\\SystemRoot\\System32\\drivers\\" + sys,
      u"\\??\\C:\\tools\\" + sys,
      u"C:\\tools\\" + sys,
      u"\\Device\\HarddiskVolume1\\" + sys,
      u"C:\\tools\\" + std::u16string(300, u'p') + u".sys",
      // Another service's ".bak" copy: a restore of that one takes it away.
      u"C:\\tools\\" + kNames[0] + u".bak",
      // Other spellings Windows takes for the same files: "." and "..",
      // '/' and doubled separators, letter case beyond A to Z, a short name
      // ("Long tools" is "LONGTO~1"); and another service's ".bak" so spelled.
      u"System32\\drivers\\.\\" + sys,
      u"\\??\\C:\\tools\\..\\tools//" + sys,
      u"\\??\\C:\\TOOLS\\" + Upper(sys),
      u"C:\\LONGTO~1\\" + sys,
      u"C:\\Long tools\\" + sys,
      u"C:\\TOOLS\\.\\" + Upper(kNames[0]) + u".BAK",
      // Names Win32 calls read otherwise than Windows' loader: one that ends
      // in a blank or a dot, a device's.
      u"\\??\\C:\\tools\\" + sys + u" ",
      u"C:\\tools\\" + sys + u".",
      u"C:\\tools\\nul.sys",
  };
  const std::uint8_t form = in.Byte() % (std::size(templates) + 1);
  std::u16string image;
  if (form < std::size(templates)) {
    image = templates[form];
  } else {
    const std::string raw = in.Bytes(in.Byte() & ~1u);
    image.assign(reinterpret_cast<const char16_t*>(raw.data()), raw.size() / 2);
  }
  if (form != 0) {
    machine.PutValue(key, u"ImagePath", in.Byte() % 2 ? win::kRegExpandSz : win::kRegSz,
                     Utf16(image + u'\0'));
  }
  const tarvox::DriverFileLocation driver =
      tarvox::LocateDriverFile(image, name, u"C:\\windows");
  const std::uint8_t files = in.Byte();
  if (driver.form == tarvox::ImagePathForm::kUnknown || driver.path.size() > 250) return;
  if (files & 1) machine.AddFile(driver.path, "driver");
  // A file named exactly as the loader opens it, a blank or dot included.
  if (files & 64) machine.AddFile(tarvox::LoaderPath(driver.path), "driver");
  if (files & 2) machine.AddFile(tarvox::BackupPathOf(driver.path), "copy");
  if (files & 4) machine.MakeUnreachable(driver.path, Unseen(in));
  if (files & 8) machine.MakeUnreachable(tarvox::BackupPathOf(driver.path), Unseen(in));
  // A virus scanner or backup agent holds the copy open: it cannot be moved.
  if (files & 16) machine.HoldExclusively(tarvox::BackupPathOf(driver.path));
  if (files & 32) machine.HoldShared(tarvox::BackupPathOf(driver.path));
}

// The machine of the input at hand, shown when a rule breaks.
const MemoryPlatform* g_shown = nullptr;

std::string Shown(std::u16string_view text) {
  std::string narrow;
  for (const char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      narrow += static_cast<char>(unit);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(unit));
      narrow += escaped;
    }
  }
  return narrow;
}

void Fail(const std::string& why) {
  std::fprintf(stderr, "broken: %s\n", why.c_str());
  if (g_shown != nullptr) {
    for (const auto& at : g_shown->AllValues()) {
      std::u16string units(at.value.bytes.size() / 2, u'\0');
      std::memcpy(units.data(), at.value.bytes.data(), units.size() * 2);
      std::fprintf(stderr, "  %s | %s = %u:%zu:%s\n", Shown(at.key).c_str(),
                   Shown(at.name).c_str(), at.value.type, at.value.bytes.size(),
                   Shown(units).c_str());
    }
    for (const auto& [path, bytes] : g_shown->AllFileBytes()) {
      std::fprintf(stderr, "  file %s: %s\n", Shown(path).c_str(), bytes.c_str());
    }
  }
  std::abort();
}

int Run(MemoryPlatform& machine, tarvox::PassedNames* passed = nullptr,
        tarvox::RunObserver* observer = nullptr) {
  tarvox::RunLog.Close();
  tarvox::g_changesMade = 0;
  tarvox::g_systemRoot.clear();
  const int exit_code = tarvox::RepairApp(machine, passed, observer).Run();
  machine.ProcessExited();
  tarvox::RunLog.Close();
  return exit_code;
}

// A device's lower-filter backup at `position`, written as a repair writes
// it at `when` with `names`, then, when `replaced_by` is given, its value
// replaced by another writer that leaves the values beside it.
void PlantDeviceBackup(MemoryPlatform& machine, std::size_t position, std::u16string_view value,
                       const std::vector<std::u16string>& names,
                       const std::optional<std::vector<std::u16string>>& replaced_by,
                       std::u16string_view id, const tarvox::UtcTime& when) {
  const std::u16string key =
      std::u16string(tarvox::kDeviceBackupKeyPrefix) + char16_t(u'0' + position);
  const auto list_bytes = [](const std::vector<std::u16string>& list) {
    const std::u16string units = tarvox::restore::ListUnits(list);
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * 2);
  };
  const std::string bytes = list_bytes(names);
  machine.PutValue(key, value, win::kRegMultiSz, bytes);
  tarvox::RegKey opened(machine);
  opened.Open(key, win::kKeyQueryValue | win::kKeySetValue);
  tarvox::WriteDeviceBackupRecord(opened, value, {win::kRegMultiSz, bytes}, id, when);
  if (replaced_by) {
    machine.PutValue(key, value, win::kRegMultiSz,
                     list_bytes(*replaced_by));
  }
}

// The machine of the input.
struct Decoded {
  std::vector<std::u16string> devices;  // in the order they enumerate
  bool no_rights = false;
  bool no_windows_folder = false;
};

Decoded Decode(const std::uint8_t* data, std::size_t size, MemoryPlatform& machine) {
  Reader in{data, size};
  Decoded decoded;
  machine.AddFolder(u"C:\\tools");
  machine.AddFolder(u"C:\\Long tools");
  machine.AddFile(u"C:\\windows\\system32\\OrvaneCo.dll", "MZ");
  const std::uint8_t flags = in.Byte();
  if (flags & 1) machine.SetCommandLine(u"Tarvox.exe -silent");
  decoded.no_rights = (flags & 2) != 0;
  decoded.no_windows_folder = (flags & 16) != 0;
  if (decoded.no_windows_folder) machine.SetEnvironment(u"SystemRoot", std::nullopt);
  if (flags & 32) machine.AddFile(u"C:\\windows\\TarvoxTmp.log", "ended early\r\n");
  if (flags & 64) {
    machine.AddFile(u"C:\\windows\\Tarvox.log", "older run\r\n");
    if (flags & 128) machine.SetReadOnly(u"C:\\windows\\Tarvox.log", true);
  }
  for (std::size_t n = 0; n < kServiceNames; ++n) {
    if (in.Byte() & 1) AddService(machine, in, kNames[n]);
  }
  machine.PutKey(tarvox::kCdromClassKey);
  if (flags & 4) machine.PutKey(tarvox::kCdromCriticalDeviceKey);
  for (const auto key : {tarvox::kCdromClassKey, tarvox::kCdromCriticalDeviceKey}) {
    for (const auto name : {u"LowerFilters", u"UpperFilters"}) {
      Put(machine, key, name, Value(in));
      if (in.Byte() & 1) Put(machine, key, std::u16string(name) + u"_1", Value(in));
    }
  }
  if (flags & 8) {
    machine.DenyAccess(u"SYSTEM\\CurrentControlSet\\Services", win::kKeyEnumerateSubKeys);
  }
  Put(machine, tarvox::kCoDeviceInstallersKey, tarvox::kCdromClassGuid, Value(in));
  if (in.Byte() % 4 == 0) {
    machine.MakeUnreachable(u"C:\\windows\\system32\\OrvaneCo.dll", Unseen(in));
  }
  std::vector<std::u16string>& devices = decoded.devices;
  for (std::size_t n = in.Byte() % 4; devices.size() < n;) {
    const std::u16string instance = u"ROOT\\CDROM\\000" + std::u16string(1, char16_t(u'0' + devices.size()));
    machine.AddCdromDevice(instance);
    devices.push_back(u"SYSTEM\\CurrentControlSet\\Enum\\" + instance);
    Put(machine, devices.back(), u"LowerFilters", Value(in));
    Put(machine, devices.back(), u"UpperFilters", Value(in));
    if (in.Byte() & 1) {
      static const char16_t* const kBackupNames[] = {
          u"LowerFilters_1", u"xUpperFilters_1", u"lowerfilters_1", u"UPPERFILTERS_1.old"};
      Put(machine, std::u16string(tarvox::kDeviceBackupKeyPrefix) + instance.back(),
          kBackupNames[in.Byte() % std::size(kBackupNames)], Value(in));
    }
  }
  if (decoded.no_rights) machine.DenyAccess(tarvox::kCdromClassKey, win::kKeySetValue);
  // Windows 7, which keeps a critical device database, or 10, which does not.
  const std::uint8_t more = in.Byte();
  if (more & 1) machine.SetOsVersion(6, 1);
  // The device backups' parent refuses to have keys made below it.
  if (more & 2) machine.DenyAccess(u"SOFTWARE\\Kestrow", win::kKeyCreateSubKey);
  // A temporary log planted as a second name of another file.
  constexpr std::u16string_view kTempLog = u"C:\\windows\\TarvoxTmp.log";
  if (more & 4) machine.AddHardLinkedFile(kTempLog, "planted\r\n");
  // One Windows opens for no writer: read-only, or held by another program
  // that does not share writing.
  if ((more & 24) != 0 && !machine.FileExists(kTempLog)) machine.AddFile(kTempLog, "");
  if (more & 8) machine.SetReadOnly(kTempLog, true);
  if (more & 16) machine.HoldExclusively(kTempLog);
  // A history of the devices' lists: backups written before this run.
  for (std::size_t at = 0; at < devices.size(); ++at) {
    std::vector<std::u16string> names =
        tarvox::invariants::ListNames(machine, devices[at], u"LowerFilters");
    if (names.empty()) continue;
    const std::u16string id = devices[at].substr(devices[at].rfind(u"ROOT\\"));
    // An older backup of the device, at the position before its own (where
    // nothing but its date makes it older), its names in another order:
    // the run's own is the later one.
    if (more & 32) {
      PlantDeviceBackup(machine, at > 0 ? at - 1 : devices.size(), u"LowerFilters_1",
                        {names.rbegin(), names.rend()}, {}, id, {2026, 1, 1, 0, 0, 0});
    }
    // A backup written for the device at another's position, dated after
    // the run, then replaced by another writer with its names in another
    // order: it no longer matches its record, so it names no device and
    // has no date.
    if ((more & 64) && devices.size() > 1) {
      PlantDeviceBackup(machine, (at + 1) % devices.size(), u"LowerFilters_2", names,
                        std::vector<std::u16string>{names.rbegin(), names.rend()}, id,
                        {2026, 12, 31, 0, 0, 0});
    }
  }
  return decoded;
}

}  // namespace


// The check of the input's machine, which it leaves as it found it
// (`untouched`: the same machine, not looked at), as a process of its own.
tarvox::check::CheckOutcome CheckUnrepaired(MemoryPlatform& machine,
                                            const MemoryPlatform& untouched) {
  tarvox::RunLog.Close();
  tarvox::g_systemRoot.clear();
  tarvox::check::CheckOutcome outcome = tarvox::check::RunCheck(machine);
  machine.ProcessExited();
  if (std::string changed = tarvox::invariants::SameOutcome(machine, untouched);
      !changed.empty()) {
    Fail("the check changed the machine: " + changed);
  }
  return outcome;
}

// The check foresees the run: its changes carried out on a copy leave what
// the run left (logs aside), its log lines are the ones the run logged, and
// it asks for a reboot when the run showed the notice or ran silently.
void CheckPredictsTheRun(const std::uint8_t* data, std::size_t size,
                         const tarvox::check::CheckOutcome& outcome, const MemoryPlatform& run,
                         int run_exit_code, const tarvox::testing::RecordedRun& told) {
  if ((outcome.exit_code == tarvox::check::kCannotCheck) != (run_exit_code == -1)) {
    Fail("the check foresaw exit code " + std::to_string(outcome.exit_code) +
         ", the run ended with " + std::to_string(run_exit_code));
  }
  MemoryPlatform predicted;
  Decode(data, size, predicted);
  tarvox::testing::ReplayChanges(outcome.report.changes, predicted);
  if (std::string differs = tarvox::invariants::SameOutcome(predicted, run, false);
      !differs.empty()) {
    Fail("the check's prediction is not the run: " + differs);
  }
  if (!run.notices().empty() && !outcome.report.reboot) {
    Fail("the run asked for a reboot the check did not foresee");
  }
  if (outcome.report.log_bytes != told.logged()) {
    Fail("the check's log lines are not the run's");
  }
  // Its JSON is one valid document that reads back what it reports.
  if (std::string differs = tarvox::invariants::CheckJsonReport(
          outcome, tarvox::check::JsonReport(outcome, "fuzz"));
      !differs.empty()) {
    Fail(differs);
  }
  // Its words hold for the run: a name that leaves a list a repair changes
  // is not in it after the run; one that stays, or is not judged, is.
  for (const tarvox::check::PlaceReport& place : outcome.report.places) {
    const std::u16string key = place.place.key.empty()
                                   ? u"SYSTEM\\CurrentControlSet\\Enum\\" + place.place.device_id
                                   : place.place.key;
    const auto after = tarvox::invariants::ListNames(run, key, place.place.value);
    const bool changed = place.outcome != tarvox::check::PlaceReport::Outcome::kUnchanged;
    for (const tarvox::check::NameReport& name : place.verdicts) {
      const bool leaves = name.verdict == tarvox::check::Verdict::kLeaves;
      if ((leaves && changed) == tarvox::restore::Holds(after, name.name) &&
          (changed || !leaves)) {
        Fail("the check says " + tarvox::invariants::Narrow(name.name) +
             (leaves ? " leaves " : " stays in ") + tarvox::invariants::Narrow(key) + " " +
             tarvox::invariants::Narrow(place.place.value) + ", which the run did otherwise");
      }
    }
  }
}

// Whether the run took a service's driver file away: one whose ImagePath
// names another service's ".bak" copy, which a restore of that one moved.
// A list judged before the restore kept that service on the file's word;
// the next run rightly removes it, so a second run is not "nothing more".
// `fresh`: the machine before the run.
bool MovedADriverAway(MemoryPlatform& fresh, bool no_windows_folder, MemoryPlatform& run) {
  constexpr std::u16string_view kServices = u"SYSTEM\\CurrentControlSet\\Services\\";
  for (const auto& at : fresh.AllValues()) {
    if (at.name != u"ImagePath" || !at.key.starts_with(kServices)) continue;
    std::u16string image(at.value.bytes.size() / 2, u'\0');
    std::memcpy(image.data(), at.value.bytes.data(), image.size() * 2);
    image.resize(std::min(image.find(u'\0'), image.size()));
    const tarvox::DriverFileLocation driver = tarvox::LocateDriverFile(
        image, at.key.substr(kServices.size()), no_windows_folder ? u"" : u"C:\\windows");
    const std::u16string loaded = tarvox::LoaderPath(driver.path);
    if (driver.form != tarvox::ImagePathForm::kUnknown && fresh.FileExists(loaded) &&
        !run.FileExists(loaded)) {
      return true;
    }
  }
  return false;
}

// Each name of `names` once, at its first place (letters A to Z folded).
std::vector<std::u16string> Once(const std::vector<std::u16string>& names) {
  std::vector<std::u16string> once;
  std::set<std::u16string> seen;
  for (const auto& name : names) {
    std::u16string folded = name;
    for (auto& unit : folded) unit = tarvox::FoldAsciiLetter(unit);
    if (seen.insert(folded).second) once.push_back(name);
  }
  return once;
}

// A repair undone: the first name a repair removed, its service made
// healthy again, put back by a restore. Every list the repair took it from
// is then as before the repair (each name once), but for the other names
// the repair removed, which a repair would still remove.
// `machine` is the input's machine after the repair; `unrepaired`, before.
void RestorePutsBack(const tarvox::invariants::RunSnapshot& unrepaired, MemoryPlatform& machine,
                     const std::vector<std::u16string>& devices) {
  std::vector<std::pair<std::u16string, std::u16string>> places;
  for (const auto key : {tarvox::kCdromClassKey, tarvox::kCdromCriticalDeviceKey}) {
    for (const auto list : {u"LowerFilters", u"UpperFilters"}) places.emplace_back(key, list);
  }
  for (const auto& device : devices) {
    for (const auto list : {u"LowerFilters", u"UpperFilters"}) places.emplace_back(device, list);
  }
  std::vector<std::vector<std::u16string>> before;
  for (const auto& [key, list] : places) {
    before.push_back(unrepaired.ListNames(key, list));
  }
  std::u16string name;
  std::vector<bool> taken(places.size(), false);
  std::vector<std::vector<std::u16string>> repaired;
  for (std::size_t at = 0; at < places.size(); ++at) {
    const auto& now = repaired.emplace_back(
        tarvox::invariants::ListNames(machine, places[at].first, places[at].second));
    for (const auto& entry : before[at]) {
      const bool gone = !tarvox::restore::Holds(now, entry);
      const bool can_be_service = !entry.empty() && entry.size() <= 255 &&
                                  entry.find(u'\\') == std::u16string::npos;
      if (gone && can_be_service && name.empty()) name = entry;
      if (gone && !name.empty() && tarvox::SameName(entry, name)) taken[at] = true;
    }
  }
  if (name.empty()) return;
  const std::u16string service = u"SYSTEM\\CurrentControlSet\\Services\\" + name;
  machine.AllowAccess(service);
  machine.PutDword(service, u"Start", 3);
  machine.PutString(service, u"ImagePath", u"\\??\\C:\\tools\\restored.sys");
  machine.AddFile(u"C:\\tools\\restored.sys", "driver");
  // A name whose key is stored in another letter case beyond A to Z ("XÉ"
  // for "xé") is no service of that name: no repair keeps it.
  tarvox::ReadSystemRoot(machine);
  if (!tarvox::restore::WhyNotPutBack(machine, name).empty()) return;
  tarvox::RunLog.Close();
  const tarvox::restore::Outcome outcome = tarvox::restore::RunRestore(
      machine, tarvox::restore::ParseArguments({u"--name", name, u"--apply"}), "fuzz");
  machine.ProcessExited();
  for (std::size_t at = 0; at < places.size(); ++at) {
    if (!taken[at]) continue;
    std::vector<std::u16string> expected;
    for (const auto& entry : before[at]) {
      if (tarvox::SameName(entry, name) || tarvox::restore::Holds(repaired[at], entry)) {
        expected.push_back(entry);
      }
    }
    const auto after = tarvox::invariants::ListNames(machine, places[at].first, places[at].second);
    if (Once(after) != Once(expected)) {
      Fail("a restore of " + tarvox::invariants::Narrow(name) + " (exit code " +
           std::to_string(outcome.exit_code) + ": " + outcome.err + ") left " +
           tarvox::invariants::Narrow(places[at].first) + " " +
           tarvox::invariants::Narrow(places[at].second) + " otherwise than before the repair");
    }
  }
}

// AddressSanitizer keeps the calls that made each allocation for its
// reports; whole stacks cost a fifth of a run. Two frames name the
// allocating function. For whole stacks, run a found input again with
// ASAN_OPTIONS=malloc_context_size=30, which overrides this.
extern "C" const char* __asan_default_options() { return "malloc_context_size=2"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The input's machine twice: one for the repair and one for the same run
  // keeping no verdicts, which the check looks at first.
  MemoryPlatform machine;
  const Decoded decoded = Decode(data, size, machine);
  MemoryPlatform reference;
  Decode(data, size, reference);
  const std::vector<std::u16string>& devices = decoded.devices;
  const bool no_windows_folder = decoded.no_windows_folder;
  g_shown = &machine;
  const tarvox::check::CheckOutcome checked = CheckUnrepaired(reference, machine);

  const tarvox::invariants::RunSnapshot before(machine, devices);
  tarvox::testing::RecordedRun told;
  const int exit_code = Run(machine, nullptr, &told);
  const bool logged = tarvox::RunLog.wrote_lines();
  const std::set<std::u16string> must_stay = tarvox::invariants::RunSnapshot::NamesThatMustStay(
      machine, no_windows_folder ? u"" : u"C:\\windows");
  if (exit_code != (decoded.no_rights ? -1 : 0)) Fail("exit code " + std::to_string(exit_code));
  if (std::string broken = before.CheckRun(machine, told, &must_stay, logged); !broken.empty()) {
    Fail(broken);
  }
  CheckPredictsTheRun(data, size, checked, machine, exit_code, told);
  const bool moved = MovedADriverAway(reference, no_windows_folder, machine);

  // The same machine, every name judged each time it appears: the verdicts
  // a run keeps must change nothing anybody could see. A run in which no
  // name passed on an earlier verdict is already that run.
  if (told.passed_earlier() > 0) {
    tarvox::testing::NoPassedNames none;
    const int reference_exit_code = Run(reference, &none);
    if (reference_exit_code != exit_code) Fail("kept verdicts change the exit code");
    if (std::string differs = tarvox::invariants::SameOutcome(machine, reference);
        !differs.empty()) {
      Fail("kept verdicts change what a run leaves: " + differs);
    }
  }

  const tarvox::invariants::RunSnapshot repaired(machine, devices);
  Run(machine);
  if (std::string broken = repaired.CheckNothingRepaired(machine); !broken.empty() && !moved) {
    Fail("second run: " + broken);
  }
  RestorePutsBack(before, machine, devices);
  g_shown = nullptr;
  return 0;
}
