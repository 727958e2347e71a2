#include "check/Report.h"

#include <cstdio>
#include <set>
#include <vector>

#include "text/Escape.h"
#include "text/Time.h"
#include "multisz/Names.h"
#include "repair/DeviceFilters.h"
#include "repair/KeyFilterList.h"
#include "repair/Places.h"

namespace tarvox::check {

using text::Characters;
using text::JsonString;
using text::Shown;
namespace {

using Change = OverlayPlatform::Change;
using Outcome = PlaceReport::Outcome;

// Where the verdict column of the text report starts, in characters.
constexpr std::size_t kVerdictColumn = 20;

std::string TypeName(std::uint32_t type) {
  switch (type) {
    case win::kRegNone: return "REG_NONE";
    case win::kRegSz: return "REG_SZ";
    case win::kRegExpandSz: return "REG_EXPAND_SZ";
    case win::kRegBinary: return "REG_BINARY";
    case win::kRegDword: return "REG_DWORD";
    case win::kRegMultiSz: return "REG_MULTI_SZ";
    default: return "type " + std::to_string(type);
  }
}

const char* VerdictWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::kStays: return "stays";
    case Verdict::kLeaves: return "leaves";
    case Verdict::kNotJudged: return "not judged";
  }
  return "";
}

const char* OutcomeWord(Outcome outcome) {
  switch (outcome) {
    case Outcome::kUnchanged: return "none";
    case Outcome::kWritten: return "write";
    case Outcome::kDeleted: return "delete";
    case Outcome::kCleared: return "clear";
  }
  return "";
}

std::string Verdicts(const CheckOutcome& outcome) {
  if (outcome.exit_code == kRepairDue) return "a repair is due";
  if (outcome.exit_code == kNothingToRepair) return "nothing to repair";
  return "the check could not be made";
}

// Why a place holds no list a repair looks at.
std::string NotReadReason(const PlaceReport& place) {
  const Status status = *place.not_read;
  if (place.key_not_opened) {
    if (status == win::kFileNotFound) return "the key is not there";
    if (status == win::kAccessDenied) return "the key may not be changed (access denied)";
    return "the key cannot be opened (error " + std::to_string(status) + ")";
  }
  if (status == win::kFileNotFound || status == win::kInvalidData) return "no list";
  if (status == win::kMoreData || status == win::kInsufficientBuffer) {
    return "over 2048 bytes: left alone";
  }
  return "cannot be read (error " + std::to_string(status) + ")";
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

// --- Text ------------------------------------------------------------------------

std::string Title(const ListPlace& place) {
  const std::string list = Shown(place.value);
  if (place.key.empty()) return Shown(DevicePlaceTitle(place.device, place.device_id)) + ", " + list;
  return Shown(KeyPlaceTitle(place.key)) + ", " + list;
}

std::string Names(const std::vector<std::u16string>& names) { return text::ShownList(names); }

std::string CoInstallerText(const CoInstallerReport& co) {
  std::string out = "\nCo-installer entry of the product\n  ";
  if (co.not_read) return out + "not read (error " + std::to_string(*co.not_read) + ")\n";
  if (co.entry.empty()) return out + "none\n";
  out += Shown(co.entry) + ": ";
  if (co.present == 1) out += "its DLL " + Shown(co.dll) + " is there\n";
  if (co.present == 0) out += "its DLL " + Shown(co.dll) + " is missing\n";
  if (co.present == kCannotTell) {
    out += co.dll.empty() ? "its DLL cannot be looked for (no Windows folder): not judged\n"
                          : "its DLL " + Shown(co.dll) + " cannot be seen (error " +
                                std::to_string(co.look) + "): not judged\n";
  }
  if (co.present == kNotAsked) out += "names no DLL: left alone\n";
  return out + (co.removed ? "  a repair removes the entry\n" : "  a repair leaves it as it is\n");
}

std::string VerdictLine(const NameReport& name) {
  std::string line = "    " + Shown(name.name);
  // Padded by characters: a name of letters beyond ASCII takes more bytes
  // than columns.
  const std::size_t width = Characters(line);
  line.append(width < kVerdictColumn ? kVerdictColumn - width : 1, ' ');
  line += VerdictWord(name.verdict);
  if (!name.reason.empty()) line += ": " + Shown(name.reason);
  return line + "\n";
}

std::string RepairText(const PlaceReport& place) {
  std::string repair;
  switch (place.outcome) {
    case Outcome::kUnchanged: repair = "leaves it as it is"; break;
    case Outcome::kWritten:
      repair = "writes " + Names(place.written);
      if (place.type == win::kRegSz && place.written == place.names) {
        repair += " as a list (Windows reads the same name: no reboot)";
      }
      break;
    case Outcome::kDeleted: repair = "deletes the value"; break;
    case Outcome::kCleared: repair = "clears the property"; break;
  }
  if (place.kept_changing) {
    repair = "leaves it as it then is: another program changed it each time it was judged";
  }
  if (place.backup) {
    repair += ", after saving the list as read as " + Shown(place.backup->second) +
              (place.place.key.empty() ? " under HKLM\\" + Shown(place.backup->first)
                                       : " beside it");
    if (place.backup_key_made) {
      repair += " (a key it makes first: should Windows refuse it, the list stays as it is)";
    }
  }
  return "  a repair " + repair + "\n";
}

std::string PlaceText(const PlaceReport& place) {
  // (Appended piece by piece: GCC 12 warns wrongly of overlapping copies
  // for "a" + string + "b".)
  std::string out;
  out.append("\n").append(Title(place.place)).append("\n");
  if (!place.place.key.empty()) out.append("  HKLM\\").append(Shown(place.place.key)).append("\n");
  if (place.not_there) {
    return out + "  not there: Windows 8 and later keep no critical device database (no list, nothing logged)\n";
  }
  if (place.not_read) return out.append("  ").append(NotReadReason(place)).append("\n");
  out += "  as read: " + TypeName(place.type) + "  " + Names(place.names) + "\n";
  for (const NameReport& name : place.verdicts) out += VerdictLine(name);
  return out + RepairText(place);
}

std::string HeadText(const CheckOutcome& outcome, std::string_view version) {
  const MachineFacts& machine = outcome.machine;
  std::string out = "TarvoxCheck " + std::string(version) +
                    ": what Tarvox.exe would repair on this machine. Nothing "
                    "was changed.\n";
  out += machine.computer.empty() ? "Computer of unknown name"
                                  : "Computer " + Shown(machine.computer);
  out += ", Windows " + std::to_string(machine.windows.major) + "." +
         std::to_string(machine.windows.minor) + " build " +
         std::to_string(machine.windows.build) + ", " + text::IsoTime(machine.time) + ".\n";
  if (outcome.report.run_foreseen && !outcome.report.administrator) {
    out +=
        "Run without administrator rights: keys are read as a repair run as "
        "administrator\nwould read them. Tarvox.exe itself must run as "
        "administrator; started like this it\nwould stop at once with exit "
        "code -1.\n";
  }
  return out;
}

// --- JSON ------------------------------------------------------------------------

std::string Bool(bool value) { return value ? "true" : "false"; }

std::string List(const std::vector<std::u16string>& names) {
  std::string out = "[";
  for (std::size_t n = 0; n < names.size(); ++n) out += (n ? ", " : "") + JsonString(names[n]);
  return out + "]";
}

std::string ChangeJson(const Change& change) {
  switch (change.kind) {
    case Change::Kind::kKeyCreated:
      // Whether Windows makes a key no read tells beforehand: attempted.
      return "{\"kind\": \"createKey\", \"key\": " + JsonString(change.where) +
             ", \"attempted\": true}";
    case Change::Kind::kValueSet:
      return "{\"kind\": \"setValue\", \"key\": " + JsonString(change.where) +
             ", \"name\": " + JsonString(change.name) + ", \"type\": " +
             std::to_string(change.type) + ", \"data\": \"" + Hex(change.bytes) + "\"}";
    case Change::Kind::kValueDeleted:
      return "{\"kind\": \"deleteValue\", \"key\": " + JsonString(change.where) +
             ", \"name\": " + JsonString(change.name) + "}";
    case Change::Kind::kPropertySet:
      return "{\"kind\": \"setProperty\", \"device\": " + JsonString(change.where) +
             ", \"property\": " + std::to_string(change.property) + ", \"data\": \"" +
             Hex(change.bytes) + "\"}";
    case Change::Kind::kPropertyCleared:
      return "{\"kind\": \"clearProperty\", \"device\": " + JsonString(change.where) +
             ", \"property\": " + std::to_string(change.property) + "}";
    case Change::Kind::kFileRenamed:
      return "{\"kind\": \"renameFile\", \"from\": " + JsonString(change.where) +
             ", \"to\": " + JsonString(change.name) + "}";
  }
  return "{}";
}

std::string PlaceJson(const PlaceReport& place) {
  std::string out = "{";
  if (place.place.key.empty()) {
    out += "\"device\": " + JsonString(place.place.device_id) + ", \"position\": " +
           std::to_string(place.place.device) + ", ";
  } else {
    out += "\"key\": " + JsonString(place.place.key) + ", ";
  }
  out += "\"list\": " + JsonString(place.place.value);
  if (place.not_there) return out + ", \"absent\": true}";
  if (place.not_read) return out + ", \"notRead\": " + JsonString(NotReadReason(place)) + "}";
  out += ", \"type\": " + JsonString(TypeName(place.type)) + ", \"names\": " + List(place.names);
  out += ", \"verdicts\": [";
  for (std::size_t v = 0; v < place.verdicts.size(); ++v) {
    const NameReport& name = place.verdicts[v];
    out += std::string(v ? ", " : "") + "{\"name\": " + JsonString(name.name) +
           ", \"verdict\": " + JsonString(VerdictWord(name.verdict)) +
           ", \"reason\": " + JsonString(name.reason) + "}";
  }
  out += "], \"repair\": {\"action\": " + JsonString(OutcomeWord(place.outcome));
  if (place.kept_changing) out += ", \"keptChanging\": true";
  if (place.outcome == Outcome::kWritten) out += ", \"list\": " + List(place.written);
  if (place.backup) {
    out += ", \"backup\": {\"key\": " + JsonString(place.backup->first) +
           ", \"value\": " + JsonString(place.backup->second) +
           (place.backup_key_made ? ", \"keyMade\": true}" : "}");
  }
  return out + "}}";
}

std::string CoInstallerJson(const CoInstallerReport& co) {
  std::string out = "{";
  if (co.not_read) out += "\"notRead\": \"error " + std::to_string(*co.not_read) + "\", ";
  return out + "\"entry\": " + JsonString(co.entry) + ", \"dll\": " + JsonString(co.dll) +
         ", \"verdict\": " +
         JsonString(co.entry.empty() || co.present == kNotAsked ? "none"
                    : co.present == 1 ? VerdictWord(Verdict::kStays)
                    : co.present == 0 ? VerdictWord(Verdict::kLeaves)
                                      : VerdictWord(Verdict::kNotJudged)) +
         ", \"repair\": " + JsonString(co.removed ? "remove entry" : "none") + "}";
}

std::string SummaryJson(const CheckOutcome& outcome) {
  // A check not made foresees nothing to count.
  if (outcome.exit_code == kCannotCheck) return "null";
  const Summary summary = Summarize(outcome.report);
  return "{\"placesChanging\": " + std::to_string(summary.places_changing) +
         ", \"namesLeaving\": " + std::to_string(summary.names_leaving) +
         ", \"namesNotJudged\": " + std::to_string(summary.names_not_judged) +
         ", \"placesNotRead\": " + std::to_string(summary.places_not_read) +
         ", \"restores\": " + std::to_string(summary.restores) +
         ", \"coInstallerEntryRemoved\": " + Bool(summary.co_installer_removed) +
         ", \"reboot\": " + Bool(summary.reboot) + "}";
}

// The fields every document begins with, as "name": value, in order.
std::vector<std::string> HeadJson(const CheckOutcome& outcome, std::string_view version) {
  const MachineFacts& machine = outcome.machine;
  return {
      "\"formatVersion\": " + std::to_string(kJsonFormatVersion),
      "\"tool\": \"TarvoxCheck\"",
      "\"version\": " + JsonString(version),
      "\"computer\": " + (machine.computer.empty() ? "null" : JsonString(machine.computer)),
      "\"time\": \"" + text::IsoTime(machine.time) + "\"",
      "\"windows\": {\"major\": " + std::to_string(machine.windows.major) +
          ", \"minor\": " + std::to_string(machine.windows.minor) +
          ", \"build\": " + std::to_string(machine.windows.build) + "}",
      "\"exitCode\": " + std::to_string(outcome.exit_code),
      "\"result\": " + JsonString(Verdicts(outcome)),
      "\"reason\": " +
          (outcome.cannot_check.empty() ? "null" : JsonString(outcome.cannot_check)),
      "\"summary\": " + SummaryJson(outcome),
      // The text form's last line, word for word: a script that reads the
      // JSON passes it on to a tool that keeps one line, and runs the check
      // once.
      "\"resultLine\": " + JsonString(std::string_view(ResultText(outcome))),
  };
}

// The details: null for what the check did not look at.
std::vector<std::string> DetailsJson(const Report& report) {
  const auto known = [](bool looked_at, const std::string& value) {
    return looked_at ? value : std::string("null");
  };
  std::string places = "[";
  for (std::size_t n = 0; n < report.places.size(); ++n) {
    places += (n ? ",\n    " : "\n    ") + PlaceJson(report.places[n]);
  }
  places += report.places.empty() ? "]" : "\n  ]";
  std::string restores = "[";
  for (std::size_t n = 0; n < report.restores.size(); ++n) {
    restores += std::string(n ? ", " : "") + "{\"from\": " + JsonString(report.restores[n].first) +
                ", \"to\": " + JsonString(report.restores[n].second) + "}";
  }
  restores += "]";
  // One change to a line: a script may read them without a JSON reader.
  std::string changes = "[";
  for (std::size_t n = 0; n < report.changes.size(); ++n) {
    changes += (n ? ",\n    " : "\n    ") + ChangeJson(report.changes[n]);
  }
  changes += report.changes.empty() ? "]" : "\n  ]";
  const bool run = report.run_foreseen;
  const std::set<std::u16string>& read_only = report.keys_refusing_writes;
  const CoInstallerReport& co = report.co_installer;
  return {
      "\"administrator\": " + known(run, Bool(report.administrator)),
      "\"keysReadOnly\": " + known(run, List({read_only.begin(), read_only.end()})),
      "\"places\": " + known(report.lists_reached, places),
      "\"coInstaller\": " + known(co.looked_at, CoInstallerJson(co)),
      "\"restores\": " + known(run, restores),
      "\"reboot\": " + known(run, Bool(report.reboot)),
      "\"log\": " + known(run, List(report.log)),
      "\"changes\": " + known(run, changes),
  };
}

std::string Object(const std::vector<std::string>& fields, std::string_view open,
                   std::string_view between, std::string_view close) {
  std::string out(open);
  for (std::size_t n = 0; n < fields.size(); ++n) {
    if (n) out += between;
    out += fields[n];
  }
  return out.append(close);
}

}  // namespace

std::string TextReport(const CheckOutcome& outcome, std::string_view version) {
  const Report& report = outcome.report;
  std::string out = HeadText(outcome, version);
  // Place by place in the order of the run, the co-installer entry in its
  // turn.
  bool co_installer_told = !report.co_installer.looked_at;
  for (const PlaceReport& place : report.places) {
    if (!co_installer_told && PlaceOrder(place.place.key, place.place.value, place.place.property) >
                                  CoInstallerOrder()) {
      out += CoInstallerText(report.co_installer);
      co_installer_told = true;
    }
    out += PlaceText(place);
  }
  if (!co_installer_told) out += CoInstallerText(report.co_installer);
  if (!report.restores.empty()) {
    out += "\nDriver files a repair restores from their .bak copy\n";
    for (const auto& [from, to] : report.restores) {
      out += "  " + Shown(from) + " -> " + Shown(to) + "\n";
    }
  }
  if (!report.log.empty()) {
    out += "\nThe lines a repair would log\n";
    for (const auto& line : report.log) out += "  " + Shown(line) + "\n";
  }
  if (!report.keys_refusing_writes.empty()) {
    out += "\nKeys this check could only read (no administrator rights)\n";
    for (const auto& key : report.keys_refusing_writes) out += "  HKLM\\" + Shown(key) + "\n";
  }
  out += "\n";
  if (report.reboot) out += "A repair would ask for a reboot (unless started with -silent, or where no user sees it).\n";
  return out + ResultLine(outcome);
}

std::string ResultLine(const CheckOutcome& outcome) { return ResultText(outcome) + "\n"; }

std::string ResultText(const CheckOutcome& outcome) {
  std::string line = "Result: " + Verdicts(outcome) + " (exit code " +
                     std::to_string(outcome.exit_code) + ")";
  if (outcome.exit_code == kCannotCheck) return line + ": " + Shown(outcome.cannot_check) + ".";
  const Summary summary = Summarize(outcome.report);
  const auto yes = [](bool value) { return value ? "yes" : "no"; };
  return line + ". Places changing: " + std::to_string(summary.places_changing) +
         "; names leaving: " + std::to_string(summary.names_leaving) +
         "; names not judged: " + std::to_string(summary.names_not_judged) +
         "; places not read: " + std::to_string(summary.places_not_read) +
         "; driver files restored: " + std::to_string(summary.restores) +
         "; co-installer entry removed: " + yes(summary.co_installer_removed) +
         "; reboot: " + yes(summary.reboot) + ".";
}

std::string JsonReport(const CheckOutcome& outcome, std::string_view version) {
  std::vector<std::string> fields = HeadJson(outcome, version);
  for (std::string& field : DetailsJson(outcome.report)) fields.push_back(std::move(field));
  return Object(fields, "{\n  ", ",\n  ", "\n}\n");
}

std::string JsonSummaryLine(const CheckOutcome& outcome, std::string_view version) {
  return Object(HeadJson(outcome, version), "{", ", ", "}\n");
}

std::string Render(const CheckOutcome& outcome, bool json, bool summary,
                   std::string_view version) {
  if (json) return summary ? JsonSummaryLine(outcome, version) : JsonReport(outcome, version);
  return summary ? ResultLine(outcome) : TextReport(outcome, version);
}

}  // namespace tarvox::check
