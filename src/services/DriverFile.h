// Where a service's driver file lies, whether it is there, and bringing a
// missing one back from the ".bak" copy beside it. The only place the tool
// touches files other than its log.
#pragma once

#include <string>
#include <string_view>

#include "platform/Platform.h"
#include "platform/RegKey.h"
#include "services/Verdict.h"

namespace tarvox {

// How a service's "ImagePath" names its driver file, and so where the file
// is looked for. Windows loads a driver from the ImagePath as the kernel
// reads it: a path that does not begin with a backslash is relative to the
// Windows folder, "\SystemRoot\" is the Windows folder, and "\??\X:\" is the
// drive path after it. The file is looked for exactly there, never relative
// to the tool's current folder, which is an installer's, not Windows'.
enum class ImagePathForm {
  // No ImagePath: the Windows driver folder, "<service name>.sys".
  kDefault = 0,
  // "%SystemRoot%\...": the Windows folder with the rest.
  kSystemRootVariable = 1,
  // "System32\DRIVERS\flt.sys", or any path relative to the Windows folder.
  kRelative = 2,
  // "\SystemRoot\...": the Windows folder with the rest.
  kSystemRootPrefix = 3,
  // "\??\D:\Tools\flt.sys": the drive path after the second backslash.
  kNtDrivePath = 4,
  // "D:\Tools\flt.sys": taken as it stands.
  kAbsolute = 5,
  // Nowhere the tool can look: another environment variable, another NT
  // path ("\Device\...", "\??\UNC\..."), a drive-relative "D:flt.sys", or a
  // path that needs the Windows folder when it is unknown. The driver file
  // is then not judged.
  kUnknown = 6,
};

struct DriverFileLocation {
  ImagePathForm form = ImagePathForm::kUnknown;
  std::u16string path;  // empty for kUnknown
};

// Where the driver file of `serviceName` lies, given its ImagePath (empty
// when it has none) and the Windows folder (`windowsFolder`, no trailing
// backslash; empty when unknown). Only the backslash separates folders in
// the rules; prefixes compare with the letters A to Z folded.
DriverFileLocation LocateDriverFile(std::u16string_view imagePath,
                                    std::u16string_view serviceName,
                                    std::u16string_view windowsFolder);

// The path of a driver file as Windows' loader opens it: name by name,
// exactly as written. A Win32 file call would first drop the dots and
// blanks that end a name ("flt.sys " finds "flt.sys") and take a reserved
// name ("NUL", "COM1.sys") for a device; the loader does neither, and a
// driver whose name ends so does not load. Such a drive path is given in
// its "\\?\" form, which Windows takes literally, its separators ('/'
// too), "." and ".." resolved first as Windows resolves them. Every other
// path is left as it is, so it is looked at as it always was.
std::u16string LoaderPath(std::u16string_view path);

// For a report of a driver file missing at `path`: why the loader does not
// find a file a look with Win32 calls would, when that is so; else empty.
std::u16string LoaderReadsOtherwise(std::u16string_view path);

// The path of a file's backup copy: the path without its last three units,
// whatever they are, followed by "bak" ("flt.sys" gives "flt.bak", "filter"
// gives "filbak"; a path of fewer than three units gives "bak").
std::u16string BackupPathOf(std::u16string_view path);

// The file-error cause a failed rename reports, from its Windows error:
// 2 file not found, 3 bad path, 4 too many open files, 5 access denied,
// 6 invalid file, 7 removal of the current folder, 9 bad seek, 10 hardware
// error, 11 sharing violation, 12 lock violation, 13 disk full, 1 for any
// other error.
int FileErrorCause(Status error);

// 1 when the service's driver file is present or has just been restored
// from its backup; 0 when it is reported missing and could not be restored;
// kCannotTell when it could not be looked for (see ImagePathForm::kUnknown,
// an ImagePath or service key that cannot be read whole, a file that cannot
// be seen, or a restore that found the driver's name taken after all). Logs
// each missing file and each restore, and raises g_changesMade for a
// restore. (Asked by name, opening the service's key itself, it is the
// tests': tests/support/ServicesByName.h.)

// What a restore found: whether the backup copy was reported missing, and
// the rename's error when it failed.
struct RestoreFinding {
  bool backup_missing = false;
  Status rename = 0;
};

// What the driver-file check found, for a report.
struct DriverFileFinding {
  bool image_path_read = false;  // the service's ImagePath could be read
  Status image_path_error = 0;   // ... why not, when its key was open
  std::u16string image_path;     // as read
  ImagePathForm form = ImagePathForm::kUnknown;
  std::u16string path;   // where the driver was looked for
  int present = 0;       // FilePresence of the first look (when it was made)
  Status look = 0;       // ... the existence test's answer
  int restored = 0;      // RestoreDriverFromBackup's result, when it was tried
  RestoreFinding restore;
};
// Where the driver file of the service lies and whether it is there, as
// CheckDriverFile first looks: 1 there, 0 reported missing, kCannotTell when
// it cannot be looked for. Logs nothing, restores nothing.
int LookForDriverFile(Platform& os, std::u16string_view serviceName, const RegKey& service,
                      DriverFileFinding* found);

// The same, with the service's key from OpenService.
int CheckDriverFile(Platform& os, std::u16string_view serviceName,
                    const RegKey& service, DriverFileFinding* finding = nullptr);

// Renames the backup copy of the missing file at `path` to `path`: 1 when
// that succeeded (g_changesMade raised); 0 when the backup is reported
// missing or the rename failed (logged, with the rename's cause); kCannotTell
// when the rename failed because a file has `path` after all. A backup that
// cannot be seen is tried all the same: the rename's own result decides.
int RestoreDriverFromBackup(Platform& os, std::u16string_view path,
                            RestoreFinding* finding = nullptr);

}  // namespace tarvox
