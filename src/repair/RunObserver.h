// What the repair checks find and decide, told as they go, for a program
// that reports a run instead of only making it (TarvoxCheck.exe), through
// the run's RunContext. The repair program sets no observer: nothing is
// told, no call is made for it, and no decision depends on it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log/RunLog.h"
#include "platform/Platform.h"
#include "repair/FilterList.h"
#include "repair/NameVerdict.h"
#include "services/DriverFile.h"
#include "services/Services.h"

namespace tarvox {

// Where a filter list lives: a value of a key, or a device's property.
struct ListPlace {
  std::u16string key;        // the key's path; empty for a device
  std::u16string value;      // "LowerFilters" or "UpperFilters"
  int device = -1;           // the device's position in its pass
  std::u16string device_id;  // its instance id ("ROOT\CDROM\0000")
  std::uint32_t property = 0;
};

// What a run did, told as it does it: each a write Windows took, of the
// place told last (Place), or of the co-installer entry or a driver file.
struct RunEvent {
  enum class Kind {
    kBackupWritten,    // `where`, `name`: the key and value of the place's backup
    kBackupKeyMade,    // `where`: the device backup's key, made for it
    kListWritten,      // `names`: the place's list as written
    kValueDeleted,     // the place's list value deleted
    kPropertyCleared,  // the place's device property cleared
    kEntryRemoved,     // the product's co-installer entry removed
    kDriverRestored,   // `where` to `name`: a driver's .bak copy took its name
  };
  Kind kind;
  std::u16string where;
  std::u16string name;
  std::vector<std::u16string> names;
};

// Besides what is declared here, it is told each line the run log takes
// (LineListener::Logged), for as long as the run's RunContext lives.
class RunObserver : public LineListener {
 public:
  // A list's place, before anything is read from it.
  virtual void Place(const ListPlace& place) = 0;
  // Its key could not be opened (`opening`), or the list not read, with
  // this status.
  virtual void NotRead(Status status, bool opening) = 0;
  // The place is not there on this Windows (the critical device database,
  // gone since Windows 8): no list to repair, nothing logged.
  virtual void NotThere() = 0;
  // The list as read. Told again each time the list is judged anew, after
  // another program changed it meanwhile.
  virtual void Read(const ListAsRead& read) = 0;
  // The list changed every time it was judged: left as it now is.
  virtual void KeptChanging() = 0;
  virtual void Judged(const NameFinding& finding) = 0;
  // The product's co-installer entry (empty: there is none) and where its
  // DLL was looked for (empty: it was not), with FilePresence's answer,
  // kCannotTell (no Windows folder) or kNotAsked (no DLL name in it), and
  // the existence test's own answer (`look`).
  virtual void CoInstaller(std::u16string_view entry, std::u16string_view dll, int present,
                           Status look) = 0;
  // The co-installer list could not be read: its key or value gave `status`.
  virtual void CoInstallerNotRead(Status status) = 0;
  // A change the run made.
  virtual void Did(const RunEvent& event) = 0;
};

}  // namespace tarvox
