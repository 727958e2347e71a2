#include "check/Report.h"

#include <cstdio>

#include "multisz/Names.h"
#include "repair/DeviceFilters.h"
#include "repair/KeyFilterList.h"

namespace tarvox::check {
namespace {

using Change = OverlayPlatform::Change;
using Outcome = PlaceReport::Outcome;

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

std::string Title(const ListPlace& place) {
  const std::string list = Utf8(place.value);
  if (place.key.empty()) {
    return "CD-ROM device " + std::to_string(place.device) + " (" +
           Utf8(place.device_id) + "), " + list;
  }
  if (SameName(place.key, kCdromClassKey)) return "CD-ROM class key, " + list;
  if (SameName(place.key, kCdromCriticalDeviceKey)) {
    return "Critical-device entry (gencdrom), " + list;
  }
  return Utf8(place.key) + ", " + list;
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

std::string Names(const std::vector<std::u16string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + Utf8(name);
  return text.empty() ? "(no name)" : text;
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

std::string Verdicts(const CheckOutcome& outcome) {
  if (outcome.exit_code == kRepairDue) return "a repair is due";
  if (outcome.exit_code == kNothingToRepair) return "nothing to repair";
  return "the check could not be made";
}

std::string CoInstallerText(const CoInstallerReport& co) {
  std::string out = "\nCo-installer entry of the product\n  ";
  if (co.not_read) return out + "not read (error " + std::to_string(*co.not_read) + ")\n";
  if (co.entry.empty()) return out + "none\n";
  out += Utf8(co.entry) + ": ";
  if (co.present == 1) out += "its DLL " + Utf8(co.dll) + " is there\n";
  if (co.present == 0) out += "its DLL " + Utf8(co.dll) + " is missing\n";
  if (co.present == kCannotTell) out += "its DLL cannot be looked for: not judged\n";
  if (co.present == kNotAsked) out += "names no DLL: left alone\n";
  return out + (co.removed ? "  a repair removes the entry\n" : "  a repair leaves it as it is\n");
}

}  // namespace

std::string Utf8(std::u16string_view text) {
  std::string utf8;
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::uint32_t code = text[at];
    if (code >= 0xD800 && code <= 0xDBFF && at + 1 < text.size() &&
        text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++at] - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (code >> 18));
      utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

// --- Text ------------------------------------------------------------------------

std::string TextReport(const CheckOutcome& outcome, std::string_view version) {
  const Report& report = outcome.report;
  std::string out = "TarvoxCheck " + std::string(version) +
                    ": what Tarvox.exe would repair on this machine. Nothing "
                    "was changed.\n";
  if (!report.administrator) {
    out +=
        "Run without administrator rights: keys are read as a repair run as "
        "administrator\nwould read them. Tarvox.exe itself must run as "
        "administrator; started like this it\nwould stop at once with exit "
        "code -1.\n";
  }
  // Place by place in the order of the run: the class key's two lists, the
  // co-installer entry, then the rest.
  bool co_installer_told = false;
  for (const PlaceReport& place : report.places) {
    if (!co_installer_told && !SameName(place.place.key, kCdromClassKey)) {
      out += CoInstallerText(report.co_installer);
      co_installer_told = true;
    }
    // (Appended piece by piece: GCC 12 warns wrongly of overlapping copies
    // for "a" + string + "b".)
    out.append("\n").append(Title(place.place)).append("\n");
    if (!place.place.key.empty()) out.append("  HKLM\\").append(Utf8(place.place.key)).append("\n");
    if (place.not_there) {
      out += "  not there: Windows 8 and later keep no critical device database (no list, nothing logged)\n";
      continue;
    }
    if (place.not_read) {
      out.append("  ").append(NotReadReason(place)).append("\n");
      continue;
    }
    out += "  as read: " + TypeName(place.type) + "  " + Names(place.names) + "\n";
    for (const NameReport& name : place.verdicts) {
      std::string line = "    " + Utf8(name.name);
      line.resize(std::max<std::size_t>(line.size() + 1, 20), ' ');
      line += VerdictWord(name.verdict);
      if (!name.reason.empty()) line += ": " + name.reason;
      out += line + "\n";
    }
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
      repair += ", after saving the list as read as " + Utf8(place.backup->second) +
                (place.place.key.empty() ? " under HKLM\\" + Utf8(place.backup->first)
                                         : " beside it");
    }
    out += "  a repair " + repair + "\n";
  }

  if (!co_installer_told) out += CoInstallerText(report.co_installer);
  if (!report.restores.empty()) {
    out += "\nDriver files a repair restores from their .bak copy\n";
    for (const auto& [from, to] : report.restores) {
      out += "  " + Utf8(from) + " -> " + Utf8(to) + "\n";
    }
  }
  if (!report.log.empty()) {
    out += "\nThe lines a repair would log\n";
    for (const auto& line : report.log) out += "  " + Utf8(line) + "\n";
  }
  if (!report.keys_refusing_writes.empty()) {
    out += "\nKeys this check could only read (no administrator rights)\n";
    for (const auto& key : report.keys_refusing_writes) out += "  HKLM\\" + Utf8(key) + "\n";
  }
  out += "\n";
  if (report.reboot) out += "A repair would ask for a reboot (unless started with -silent, or where no user sees it).\n";
  if (!outcome.cannot_check.empty()) out += "The check could not be made: " + outcome.cannot_check + ".\n";
  out += "Result: " + Verdicts(outcome) + " (exit code " + std::to_string(outcome.exit_code) + ").\n";
  return out;
}

// --- JSON ------------------------------------------------------------------------

namespace {

std::string Quoted(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Quoted(std::u16string_view text) { return Quoted(Utf8(text)); }

std::string List(const std::vector<std::u16string>& names) {
  std::string out = "[";
  for (std::size_t n = 0; n < names.size(); ++n) out += (n ? ", " : "") + Quoted(names[n]);
  return out + "]";
}

std::string ChangeJson(const Change& change) {
  switch (change.kind) {
    case Change::Kind::kKeyCreated:
      return "{\"kind\": \"createKey\", \"key\": " + Quoted(change.where) + "}";
    case Change::Kind::kValueSet:
      return "{\"kind\": \"setValue\", \"key\": " + Quoted(change.where) +
             ", \"name\": " + Quoted(change.name) + ", \"type\": " +
             std::to_string(change.type) + ", \"data\": \"" + Hex(change.bytes) + "\"}";
    case Change::Kind::kValueDeleted:
      return "{\"kind\": \"deleteValue\", \"key\": " + Quoted(change.where) +
             ", \"name\": " + Quoted(change.name) + "}";
    case Change::Kind::kPropertySet:
      return "{\"kind\": \"setProperty\", \"device\": " + Quoted(change.where) +
             ", \"property\": " + std::to_string(change.property) + ", \"data\": \"" +
             Hex(change.bytes) + "\"}";
    case Change::Kind::kPropertyCleared:
      return "{\"kind\": \"clearProperty\", \"device\": " + Quoted(change.where) +
             ", \"property\": " + std::to_string(change.property) + "}";
    case Change::Kind::kFileRenamed:
      return "{\"kind\": \"renameFile\", \"from\": " + Quoted(change.where) +
             ", \"to\": " + Quoted(change.name) + "}";
  }
  return "{}";
}

}  // namespace

std::string JsonReport(const CheckOutcome& outcome, std::string_view version) {
  const Report& report = outcome.report;
  std::string out = "{\n  \"tool\": \"TarvoxCheck\",\n  \"version\": " + Quoted(version) +
                    ",\n  \"exitCode\": " + std::to_string(outcome.exit_code) +
                    ",\n  \"result\": " + Quoted(Verdicts(outcome)) + ",\n";
  if (!outcome.cannot_check.empty()) out += "  \"reason\": " + Quoted(outcome.cannot_check) + ",\n";
  out += "  \"administrator\": " + std::string(report.administrator ? "true" : "false") + ",\n";
  out += "  \"keysReadOnly\": " +
         List({report.keys_refusing_writes.begin(), report.keys_refusing_writes.end()}) + ",\n";
  out += "  \"places\": [";
  for (std::size_t n = 0; n < report.places.size(); ++n) {
    const PlaceReport& place = report.places[n];
    out += n ? ",\n    {" : "\n    {";
    if (place.place.key.empty()) {
      out += "\"device\": " + Quoted(place.place.device_id) + ", \"position\": " +
             std::to_string(place.place.device) + ", ";
    } else {
      out += "\"key\": " + Quoted(place.place.key) + ", ";
    }
    out += "\"list\": " + Quoted(place.place.value);
    if (place.not_there) {
      out += ", \"absent\": true}";
      continue;
    }
    if (place.not_read) {
      out += ", \"notRead\": " + Quoted(NotReadReason(place)) + "}";
      continue;
    }
    out += ", \"type\": " + Quoted(TypeName(place.type)) + ", \"names\": " + List(place.names);
    out += ", \"verdicts\": [";
    for (std::size_t v = 0; v < place.verdicts.size(); ++v) {
      const NameReport& name = place.verdicts[v];
      out += std::string(v ? ", " : "") + "{\"name\": " + Quoted(name.name) +
             ", \"verdict\": " + Quoted(VerdictWord(name.verdict)) +
             ", \"reason\": " + Quoted(name.reason) + "}";
    }
    out += "], \"repair\": {\"action\": " + Quoted(OutcomeWord(place.outcome));
    if (place.kept_changing) out += ", \"keptChanging\": true";
    if (place.outcome == Outcome::kWritten) out += ", \"list\": " + List(place.written);
    if (place.backup) {
      out += ", \"backup\": {\"key\": " + Quoted(place.backup->first) +
             ", \"value\": " + Quoted(place.backup->second) + "}";
    }
    out += "}}";
  }
  out += "\n  ],\n";
  const CoInstallerReport& co = report.co_installer;
  out += "  \"coInstaller\": {";
  if (co.not_read) out += "\"notRead\": \"error " + std::to_string(*co.not_read) + "\", ";
  out += "\"entry\": " + Quoted(co.entry) + ", \"dll\": " + Quoted(co.dll) +
         ", \"verdict\": " +
         Quoted(co.entry.empty() || co.present == kNotAsked ? "none"
                : co.present == 1                           ? "stays"
                : co.present == 0                           ? "leaves"
                                                            : "not judged") +
         ", \"repair\": " + Quoted(co.removed ? "remove entry" : "none") + "},\n";
  out += "  \"restores\": [";
  for (std::size_t n = 0; n < report.restores.size(); ++n) {
    out += std::string(n ? ", " : "") + "{\"from\": " + Quoted(report.restores[n].first) +
           ", \"to\": " + Quoted(report.restores[n].second) + "}";
  }
  out += "],\n  \"reboot\": " + std::string(report.reboot ? "true" : "false") + ",\n";
  out += "  \"log\": " + List(report.log) + ",\n";
  out += "  \"changes\": [";
  for (std::size_t n = 0; n < report.changes.size(); ++n) {
    out += (n ? ",\n    " : "\n    ") + ChangeJson(report.changes[n]);
  }
  out += report.changes.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

}  // namespace tarvox::check
