#include "restore/RestoreRun.h"

#include <algorithm>

#include "log/RunLog.h"
#include "multisz/Names.h"
#include "platform/RunState.h"
#include "repair/KeyFilterList.h"
#include "repair/Places.h"
#include "repair/RepairChecks.h"
#include "restore/Backups.h"
#include "restore/PutBack.h"
#include "text/Escape.h"
#include "text/Time.h"

namespace tarvox::restore {
namespace {

using text::Shown;

constexpr std::string_view kUsage =
    "Usage: TarvoxRestore.exe [--name NAME [--apply]]\n"
    "       TarvoxRestore.exe --help\n"
    "\n"
    "Puts back a filter that a repair of Tarvox.exe removed, from the backups\n"
    "the repair wrote. Alone, it lists every backup and changes nothing.\n"
    "\n"
    "  --name NAME  what putting NAME back would change; changes nothing\n"
    "  --apply      with --name: put it back (administrator rights needed)\n"
    "  --help       this text\n"
    "\n"
    "Exit codes: 0 listed, nothing would change, or every change made;\n"
    "1 something would change (without --apply), or not every change was\n"
    "made; 2 refused, nothing changed (the reason on standard error).\n";

std::string Names(const std::vector<std::u16string>& names) { return text::ShownList(names); }

std::string Title(const Site& site) {
  if (site.device()) {
    return Shown(DevicePlaceTitle(site.position, site.device_id)) + ", " + Shown(site.list);
  }
  return Shown(KeyPlaceTitle(site.key)) + ", " + Shown(site.list) + "\n  HKLM\\" + Shown(site.key);
}

std::u16string BackupPath(const Backup& backup) {
  return u"HKLM\\" + backup.key + u"\\" + backup.value;
}

// A key list's backup is named by its value beside the list; a device's by
// its whole path.
std::string BackupName(const Backup& backup) {
  return backup.number < 0 ? Shown(backup.value) : Shown(BackupPath(backup));
}

// What is known of when a backup was written, and whether it is the latest
// of its list's.
std::string BackupLine(const Backup& backup, const CurrentList* now, bool latest) {
  std::string line = "  " + BackupName(backup) + " (" +
                     (backup.slot == 1 ? "first repair" : "a later repair");
  if (backup.number >= 0) {
    line += " at position " + std::to_string(backup.number) +
            (backup.written.empty() ? ", when is not recorded" : ", written " + Shown(backup.written));
  }
  line += latest ? ", the latest): " : "): ";
  if (backup.not_read) return line + "cannot be read (error " + std::to_string(*backup.not_read) + ")\n";
  line += Names(backup.names);
  if (now != nullptr && !now->not_read) {
    std::vector<std::u16string> missing;
    for (const auto& name : backup.names) {
      if (!Holds(now->names, name) && !Holds(missing, name)) missing.push_back(name);
    }
    if (!missing.empty()) line += "; not in the list now: " + Names(missing);
  }
  return line + "\n";
}

std::string NowLine(const CurrentList& now, const char* label = "now") {
  const std::string head = "  " + std::string(label) + ": ";
  if (now.not_read) return head + "cannot be read (error " + std::to_string(*now.not_read) + ")\n";
  return head + Names(now.names) + (now.plain() ? "" : " (" + Shown(now.not_plain) + ")") + "\n";
}

std::string UnreadableLines(const MachineLists& lists) {
  std::string out;
  for (const Unreadable& key : lists.unreadable) {
    out += "HKLM\\" + Shown(key.key) + " cannot be read (error " +
           std::to_string(key.error) + "): backups there are not seen\n";
  }
  return out;
}

std::string Listing(const MachineLists& lists, std::string_view version) {
  std::string out = "TarvoxRestore " + std::string(version) +
                    ": the backups of the lists a repair changed. Nothing was changed.\n";
  for (std::size_t site = 0; site < lists.sites.size(); ++site) {
    const auto here = [&](const Backup& backup) { return backup.site == static_cast<int>(site); };
    const auto count = std::count_if(lists.backups.begin(), lists.backups.end(), here);
    if (count == 0) continue;
    // With one backup, "the latest" would say nothing.
    const int latest = count > 1 ? LatestBackup(lists, static_cast<int>(site),
                                                [](const Backup&) { return true; })
                                 : -1;
    std::string lines;
    for (std::size_t at = 0; at < lists.backups.size(); ++at) {
      if (!here(lists.backups[at])) continue;
      lines += BackupLine(lists.backups[at], &lists.now[site], static_cast<int>(at) == latest);
    }
    // (Appended piece by piece: GCC 12 warns wrongly of overlapping copies
    // for "a" + string + "b".)
    out.append("\n").append(Title(lists.sites[site])).append("\n");
    out += NowLine(lists.now[site]) + lines;
  }
  std::string unmatched;
  for (const Backup& backup : lists.backups) {
    if (backup.site < 0) {
      unmatched += BackupLine(backup, nullptr, false) + "    not put back anywhere: " +
                   Shown(backup.unmatched) + "\n";
    }
  }
  if (!unmatched.empty()) out += "\nBackups of no device present\n" + unmatched;
  if (!lists.unreadable.empty()) out += "\n" + UnreadableLines(lists);
  if (lists.backups.empty()) {
    out += lists.unreadable.empty() ? "\nNo backups: no repair has changed a list on this machine.\n"
                                    : "\nNo backups seen.\n";
  } else {
    out += "\nBackups: " + std::to_string(lists.backups.size()) +
           ". To put a name back: TarvoxRestore.exe --name NAME\n";
  }
  return out;
}

// The log line of one list that got a name again.
// Machine text in it is escaped as the text report escapes it, so that a
// name with a line break cannot forge a line, and so is any character the
// log's code page cannot hold, so that two names never look alike.
std::u16string LogLine(Platform& os, const Site& site, const Backup& backup,
                       std::u16string_view name, const std::vector<std::u16string>& after) {
  const auto shown = [&os](std::u16string_view text) {
    return text::ShownUnits(text, [&os](std::u16string_view units) {
      return units == u"?" || os.ToAnsi(units).find('?') == std::string::npos;
    });
  };
  std::u16string line;
  for (const char c : text::IsoTime(os.Now())) line += char16_t(c);
  line += u"  " + shown(name) + u" put back into ";
  line += site.device() ? u"device " + shown(site.device_id) + u" " + site.list
                        : u"HKLM\\" + site.key + u"\\" + site.list;
  line += u", as in its backup " + shown(BackupPath(backup)) + u": ";
  for (std::size_t at = 0; at < after.size(); ++at) line += (at ? u", " : u"") + shown(after[at]);
  return line;
}

std::string NotUsedLines(const MachineLists& lists, const Plan& plan, std::u16string_view name) {
  std::string out;
  for (const NotUsed& skip : plan.not_used) {
    out += "Not used: " + Shown(BackupPath(lists.backups[skip.backup])) + ", which holds " +
           Shown(name) + ": " + Shown(skip.why) + "\n";
  }
  return out;
}

// The first line of a list's title.
std::string ShortTitle(const Site& site) {
  const std::string title = Title(site);
  return title.substr(0, title.find('\n'));
}

// The lists that lack the name and whose backup holds it, which are not to
// be written (how they are stored, their size, not readable now): a person
// must put the name back there, and a run that leaves them is not whole.
std::vector<const NotUsed*> KeptBack(const MachineLists& lists, const Plan& plan) {
  std::vector<const NotUsed*> kept;
  for (const NotUsed& skip : plan.not_used) {
    if (lists.backups[skip.backup].site >= 0) kept.push_back(&skip);
  }
  return kept;
}

Outcome PutBack(Platform& os, const Arguments& arguments, std::string_view version) {
  const std::u16string& name = *arguments.name;
  const auto refused = [&](std::string why) {
    return Outcome{kRefused, {}, "TarvoxRestore: " + Shown(name) + " is not put back: " + why + "\n"};
  };
  if (!os.IsAdministrator()) {
    return refused("administrator rights are needed (start it with \"Run as administrator\")");
  }
  if (RepairIsRunning(os)) return refused("a repair is running at this moment; try again when it has ended");
  if (const std::u16string why = WhyNotPutBack(os, name); !why.empty()) return refused(Shown(why));
  // While it writes, no repair may start: the repair's own guard.
  if (arguments.apply && TakeSingleInstanceGuard(os) == 0) {
    return refused("a repair is running at this moment; try again when it has ended");
  }
  const MachineLists lists = LookAtLists(os);
  const Plan plan = PlanPutBack(lists, name);
  const std::vector<const NotUsed*> kept_back = KeptBack(lists, plan);
  Outcome outcome;
  outcome.out = "TarvoxRestore " + std::string(version) + ": " +
                (arguments.apply ? "putting back " : "what putting back ") + Shown(name) +
                (arguments.apply ? ".\n" : " would change. Nothing was changed.\n") +
                Shown(name) + ": its service is there, may start, and its driver file is there.\n";
  // Backups that cannot be read may hold the name: what is put back may
  // not be all.
  std::string unseen;
  for (const Unreadable& key : lists.unreadable) {
    unseen += "TarvoxRestore: HKLM\\" + Shown(key.key) + " cannot be read (error " +
              std::to_string(key.error) + "): backups there that hold " + Shown(name) +
              " are not seen\n";
  }
  if (plan.puts.empty()) {
    outcome.out += "\n" + NotUsedLines(lists, plan, name) + UnreadableLines(lists);
    if (!plan.not_used.empty()) {
      return {kRefused, outcome.out,
              unseen + "TarvoxRestore: " + Shown(name) +
                  " is not put back: no backup that holds it can be used\n"};
    }
    if (!unseen.empty()) {
      return {kRefused, outcome.out,
              unseen + "TarvoxRestore: " + Shown(name) + " is not put back: not every backup can be read\n"};
    }
    outcome.out += "No list lacks it that one of its backups holds.\nResult: nothing to put back (exit code 0).\n";
    return outcome;
  }
  LogStream log;
  int made = 0;
  bool logged_all = true;
  for (const Put& put : plan.puts) {
    const Site& site = lists.sites[put.site];
    const Backup& backup = lists.backups[put.backup];
    outcome.out.append("\n").append(Title(site)).append("\n");
    outcome.out += NowLine(lists.now[put.site], arguments.apply ? "before" : "now");
    if (!arguments.apply) {
      outcome.out += "  after: " + Names(put.after) + " (placed as in " + BackupName(backup) + ")\n";
      continue;
    }
    std::vector<std::u16string> after;
    if (const std::u16string why = MakePut(os, site, backup, name, &after); !why.empty()) {
      outcome.out += "  not changed: " + Shown(why) + "\n";
      outcome.err += "TarvoxRestore: " + ShortTitle(site) + " not changed: " + Shown(why) + "\n";
      continue;
    }
    ++made;
    outcome.out += "  after: " + Names(after) + " (placed as in " + BackupName(backup) + ")\n";
    const std::u16string path = RunLogFolder(os) + u"\\" + std::u16string(kRestoreLogName);
    if (!log.is_open()) {
      if (const Status opened = log.Open(os, path)) {
        outcome.err += "TarvoxRestore: the log " + Shown(path) + " cannot be written (error " +
                       std::to_string(opened) + ")\n";
      }
    }
    const bool lost_before = log.lost_lines();
    log << LogLine(os, site, backup, name, after) << kEndLine;
    if (!log.is_open() || log.lost_lines() != lost_before) {
      logged_all = false;
      outcome.err += "TarvoxRestore: " + ShortTitle(site) + " got " + Shown(name) +
                     " again, but that is not in the log " + Shown(path) + "\n";
    }
  }
  log.Close();
  outcome.out += "\n" + NotUsedLines(lists, plan, name) + UnreadableLines(lists);
  const int lists_count = static_cast<int>(plan.puts.size() + kept_back.size());
  if (!arguments.apply) {
    outcome.exit_code = kWouldChange;
    const std::size_t puts = plan.puts.size();
    outcome.out += "Result: " + std::to_string(puts) + (puts == 1 ? " list" : " lists") +
                   " would get " + Shown(name) + " again" +
                   (kept_back.empty() ? ""
                                      : ", " + std::to_string(kept_back.size()) +
                                            " only by hand (see \"Not used\")") +
                   " (exit code 1).\n";
    return outcome;
  }
  for (const NotUsed* skip : kept_back) {
    outcome.err += "TarvoxRestore: " + ShortTitle(lists.sites[lists.backups[skip->backup].site]) +
                   " not changed: " + Shown(skip->why) + "\n";
  }
  outcome.err += unseen;
  const bool whole = made == lists_count && unseen.empty() && logged_all;
  outcome.exit_code = whole ? kDone : kWouldChange;
  outcome.out += "Result: " + std::to_string(made) + " of " + std::to_string(lists_count) +
                 (lists_count == 1 ? " list" : " lists") + " got " + Shown(name) + " again" +
                 (made > 0 && !logged_all ? ", not every change logged" : "") +
                 (unseen.empty() ? "" : ", not every backup read") + " (exit code " +
                 std::to_string(outcome.exit_code) + ").\n";
  return outcome;
}

}  // namespace

Arguments ParseArguments(const std::vector<std::u16string>& words) {
  Arguments arguments;
  for (std::size_t at = 0; at < words.size() && arguments.error.empty(); ++at) {
    const std::u16string& word = words[at];
    if (SameName(word, u"--name")) {
      if (arguments.name) {
        arguments.error = u"--name given twice";
      } else if (at + 1 == words.size() || words[at + 1].empty()) {
        arguments.error = u"--name needs a name after it";
      } else {
        arguments.name = words[++at];
      }
    } else if (SameName(word, u"--apply")) {
      arguments.apply = true;
    } else if (SameName(word, u"--help") || SameName(word, u"-h") || word == u"/?") {
      arguments.help = true;
    } else {
      arguments.error = u"unknown argument: " + std::u16string(text::Prefix(word, 64));
    }
  }
  if (arguments.error.empty() && arguments.apply && !arguments.name) {
    arguments.error = u"--apply goes with --name NAME";
  }
  // So that a script's typo beside it never passes for a run that did what
  // was asked.
  if (arguments.error.empty() && arguments.help && words.size() > 1) {
    arguments.error = u"--help goes alone";
  }
  return arguments;
}

Outcome RunRestore(Platform& os, const Arguments& arguments, std::string_view version) {
  if (!arguments.error.empty()) {
    return {kRefused, {}, "TarvoxRestore: " + Shown(arguments.error) + "\n" + std::string(kUsage)};
  }
  if (arguments.help) return {kDone, std::string(kUsage), {}};
  ReadSystemRoot(os);
  if (!arguments.name) return {kDone, Listing(LookAtLists(os), version), {}};
  return PutBack(os, arguments, version);
}

}  // namespace tarvox::restore
