#include "restore/PutBack.h"

#include <algorithm>

#include "multisz/MultiSz.h"
#include "multisz/Names.h"
#include "platform/RegKey.h"
#include "repair/DeviceFilters.h"
#include "repair/NameVerdict.h"
#include "services/DriverFile.h"
#include "services/Services.h"

namespace tarvox::restore {
namespace {

std::u16string Error(Status status) {
  std::u16string text = u"error ";
  for (const char digit : std::to_string(status)) text += char16_t(digit);
  return text;
}

constexpr std::u16string_view kWouldGo = u"a repair would remove it again: ";
constexpr std::u16string_view kTooLong = u"the list would be longer than a list may be";

std::size_t Find(const std::vector<std::u16string>& names, std::u16string_view name,
                 std::size_t from) {
  for (std::size_t at = from; at < names.size(); ++at) {
    if (SameName(names[at], name)) return at;
  }
  return names.size();
}

// A repair takes a folder where the driver file should be for the driver
// (it looks for a name, not a file), but Windows cannot load a folder: the
// filter would make the drive vanish. Empty when `path` is no folder.
std::u16string FolderInsteadOfDriver(Platform& os, const std::u16string& path) {
  FileFacts facts;
  if (const Status described = os.DescribeFile(LoaderPath(path), &facts)) {
    return u"its driver file " + path + u" cannot be seen (" + Error(described) + u")";
  }
  if ((facts.attributes & win::kFileAttributeDirectory) != 0) {
    return u"its driver file " + path + u" is a folder, which Windows cannot load as a driver";
  }
  return {};
}

}  // namespace

std::u16string WhyNotPutBack(Platform& os, std::u16string_view name) {
  const std::u16string key = u"HKLM\\" + std::u16string(kServicesRoot) + std::u16string(name);
  // The questions a repair asks, but for the restore of a driver file: a
  // name goes back only when a repair's verdict would keep it.
  NameFinding found;
  found.name = std::u16string(name);
  RegKey service(os);
  found.exists = OpenService(os, name, &service, &found.lookup);
  if (found.exists == 1) {
    found.enabled = IsServiceEnabled(service, u"Start", &found.start);
    found.driver = LookForDriverFile(os, name, service, &found.driver_file);
  }
  const DriverFileFinding& file = found.driver_file;
  if (VerdictOn(found) == Verdict::kStays) return FolderInsteadOfDriver(os, file.path);
  // Why not, by the first question that did not answer yes.
  if (found.exists == 0) return std::u16string(kWouldGo) + u"there is no service of that name";
  if (found.exists != 1 || !service.is_open()) {
    return u"its service cannot be looked at (" + key + u", " + Error(found.lookup.opened) + u")";
  }
  if (found.enabled == 0) {
    return std::u16string(kWouldGo) + u"its start type does not let Windows load it (" + key +
           u", Start)";
  }
  if (found.enabled != 1) {
    return u"its start type cannot be read (" + key + u", " + Error(found.start.error) + u")";
  }
  const int present = found.driver;
  if (present == 0) {
    return std::u16string(kWouldGo) + u"its driver file " + file.path + u" is missing" +
           LoaderReadsOtherwise(file.path) +
           u" (a repair restores it from a .bak copy where there is one: run Tarvox.exe first)";
  }
  return file.path.empty()
             ? u"where its driver file lies cannot be told (" + key + u", ImagePath)"
             : u"its driver file " + file.path + u" cannot be seen (" + Error(file.look) + u")";
}

std::vector<std::u16string> PutBackInto(const std::vector<std::u16string>& names,
                                        const std::vector<std::u16string>& backup,
                                        std::u16string_view name) {
  std::vector<std::u16string> after = names;
  const std::size_t at = Find(backup, name, 0);
  if (at == backup.size()) return after;
  // Past the names that stood before it there and are still in the list,
  // so that a name that stands twice is taken at the right place ...
  std::size_t from = 0;
  for (std::size_t before = 0; before < at; ++before) {
    const std::size_t found = Find(names, backup[before], from);
    if (found < names.size()) from = found + 1;
  }
  // ... before the first name that followed it there.
  std::size_t insert = names.size();
  for (std::size_t follower = at + 1; follower < backup.size() && insert == names.size();
       ++follower) {
    insert = Find(names, backup[follower], from);
  }
  after.insert(after.begin() + static_cast<std::ptrdiff_t>(insert), backup[at]);
  return after;
}

Plan PlanPutBack(const MachineLists& lists, std::u16string_view name) {
  Plan plan;
  for (std::size_t site = 0; site < lists.sites.size(); ++site) {
    const CurrentList& now = lists.now[site];
    if (!now.not_read && Holds(now.names, name)) continue;
    const int latest = LatestBackup(lists, static_cast<int>(site),
                                    [&](const Backup& backup) { return Holds(backup.names, name); });
    if (latest < 0) continue;
    if (now.not_read) {
      plan.not_used.push_back({latest, u"its list cannot be read now (" + Error(*now.not_read) + u")"});
      continue;
    }
    if (!now.plain()) {
      plan.not_used.push_back({latest, now.not_plain});
      continue;
    }
    std::vector<std::u16string> after =
        PutBackInto(now.names, lists.backups[static_cast<std::size_t>(latest)].names, name);
    // What --apply would refuse, a look refuses too.
    if (!FitsAList(after)) {
      plan.not_used.push_back({latest, std::u16string(kTooLong)});
      continue;
    }
    plan.puts.push_back({static_cast<int>(site), latest, std::move(after)});
  }
  for (std::size_t at = 0; at < lists.backups.size(); ++at) {
    const Backup& backup = lists.backups[at];
    if (backup.site < 0 && Holds(backup.names, name)) {
      plan.not_used.push_back({static_cast<int>(at), backup.unmatched});
    }
  }
  return plan;
}

std::u16string MakePut(Platform& os, const Site& site, const Backup& backup,
                       std::u16string_view name, std::vector<std::u16string>* after) {
  const CurrentList now = ReadSite(os, site);
  if (now.not_read) return u"its list cannot be read now (" + Error(*now.not_read) + u")";
  if (!now.plain()) return now.not_plain;
  if (Holds(now.names, name)) return u"its list holds the name already";
  *after = PutBackInto(now.names, backup.names, name);
  if (!FitsAList(*after)) return std::u16string(kTooLong);
  const std::u16string units = ListUnits(*after);
  const auto bytes = static_cast<std::uint32_t>(units.size() * 2);
  Status status = win::kFileNotFound;
  if (!site.device()) {
    RegKey key(os);
    status = key.Open(site.key, win::kKeyQueryValue | win::kKeySetValue);
    if (status == win::kSuccess) status = key.SetValue(site.list, win::kRegMultiSz, units.data(), bytes);
  } else {
    const CdromDeviceSet set(os);
    for (DeviceEnumerator devices(os, set.get());
         devices.status() == DeviceEnumerator::kOnDevice; devices.Step()) {
      std::u16string id;
      if (os.DeviceInstanceId(devices.set(), devices.index(), &id) == win::kSuccess &&
          SameName(id, site.device_id)) {
        status = os.SetDeviceProperty(devices.set(), devices.index(), site.property,
                                      units.data(), bytes);
        break;
      }
    }
  }
  return status == win::kSuccess ? std::u16string() : u"Windows refused the write (" + Error(status) + u")";
}

}  // namespace tarvox::restore
