#include "services/DriverFile.h"

#include <algorithm>
#include <vector>

#include "log/RunLog.h"
#include "multisz/Names.h"
#include "platform/RunState.h"
#include "services/FilePresence.h"
#include "services/PassedNames.h"
#include "services/Services.h"

namespace tarvox {
namespace {

constexpr std::u16string_view kSystemRootVariable = u"%SystemRoot%\\";
constexpr std::u16string_view kSystemRootPrefix = u"\\SystemRoot\\";
constexpr std::u16string_view kDriverFolder = u"\\system32\\drivers\\";
constexpr std::u16string_view kBackupExtension = u"bak";

bool StartsWithName(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         SameName(text.substr(0, prefix.size()), prefix);
}

// "X:\..." (or "X:/..."): a path from the root of a drive.
bool IsDrivePath(std::u16string_view path) {
  const char16_t drive = FoldAsciiLetter(path.empty() ? u'\0' : path[0]);
  return path.size() >= 3 && drive >= u'a' && drive <= u'z' &&
         path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

DriverFileLocation InWindowsFolder(ImagePathForm form,
                                   std::u16string_view windowsFolder,
                                   std::u16string_view rest) {
  // Without the Windows folder the path would land in the root of whatever
  // drive is current: such a file is not looked for at all.
  if (windowsFolder.empty()) return {};
  std::u16string path(windowsFolder);
  path += rest;
  return {form, std::move(path)};
}

}  // namespace

DriverFileLocation LocateDriverFile(std::u16string_view imagePath,
                                    std::u16string_view serviceName,
                                    std::u16string_view windowsFolder) {
  if (imagePath.empty()) {
    std::u16string rest(kDriverFolder);
    rest += serviceName;
    rest += u".sys";
    return InWindowsFolder(ImagePathForm::kDefault, windowsFolder, rest);
  }
  if (StartsWithName(imagePath, kSystemRootVariable)) {
    // From the backslash on: the variable stands for the Windows folder.
    return InWindowsFolder(ImagePathForm::kSystemRootVariable, windowsFolder,
                           imagePath.substr(kSystemRootVariable.size() - 1));
  }
  if (StartsWithName(imagePath, kSystemRootPrefix)) {
    return InWindowsFolder(ImagePathForm::kSystemRootPrefix, windowsFolder,
                           imagePath.substr(kSystemRootPrefix.size() - 1));
  }
  if (imagePath[0] == u'\\') {
    // An NT path: "\??\D:\...", "\DosDevices\D:\...". Only one that leads to
    // a drive path names a file the tool can look for.
    const std::size_t second = imagePath.find(u'\\', 1);
    if (second == std::u16string_view::npos) return {};
    const std::u16string_view rest = imagePath.substr(second + 1);
    if (!IsDrivePath(rest)) return {};
    return {ImagePathForm::kNtDrivePath, std::u16string(rest)};
  }
  if (IsDrivePath(imagePath)) {
    return {ImagePathForm::kAbsolute, std::u16string(imagePath)};
  }
  // Another environment variable, which Windows would not expand either, or
  // a path relative to the current folder of a drive.
  if (imagePath[0] == u'%' || (imagePath.size() >= 2 && imagePath[1] == u':')) {
    return {};
  }
  std::u16string rest = u"\\";
  rest += imagePath;
  return InWindowsFolder(ImagePathForm::kRelative, windowsFolder, rest);
}

std::u16string LoaderPath(std::u16string_view path) {
  if (!IsDrivePath(path)) return std::u16string(path);
  // Most paths hold no name Win32 would read otherwise: those are left as
  // they are, without building anything.
  bool read_otherwise = false;
  for (std::size_t at = 3; at <= path.size() && !read_otherwise;) {
    const std::size_t cut = std::min(path.find_first_of(u"\\/", at), path.size());
    const std::u16string_view name = path.substr(at, cut - at);
    at = cut + 1;
    read_otherwise = !name.empty() && name != u"." && name != u".." &&
                     (name.back() == u'.' || name.back() == u' ' || IsReservedDeviceName(name));
  }
  if (!read_otherwise) return std::u16string(path);
  std::vector<std::u16string_view> names;
  for (std::size_t at = 3; at <= path.size();) {
    const std::size_t cut = std::min(path.find_first_of(u"\\/", at), path.size());
    const std::u16string_view name = path.substr(at, cut - at);
    at = cut + 1;
    if (name.empty() || name == u".") continue;
    if (name == u"..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    names.push_back(name);
  }
  std::u16string literal(kLiteralPathPrefix);
  literal += path.substr(0, 2);
  for (const std::u16string_view name : names) {
    literal += u'\\';
    literal += name;
  }
  // A path that ends in a separator names no file, literal or not.
  if (names.empty() || path.back() == u'\\' || path.back() == u'/') literal += u'\\';
  return literal;
}

std::u16string LoaderReadsOtherwise(std::u16string_view path) {
  if (LoaderPath(path) == path) return {};
  return u" (Windows loads it by the name as written: one that ends in a blank or a dot, or "
         u"a device's, is no file)";
}

std::u16string BackupPathOf(std::u16string_view path) {
  std::u16string backup(path.substr(0, path.size() >= 3 ? path.size() - 3 : 0));
  backup += kBackupExtension;
  return backup;
}

int FileErrorCause(Status error) {
  switch (error) {
    case 0:
      return 0;
    case 2: case 6: case 18:
      return 2;   // file not found
    case 3: case 15: case 17:
      return 3;   // bad path
    case 4:
      return 4;   // too many open files
    case 5: case 12: case 19: case 80: case 183:
      return 5;   // access denied
    case 11:
      return 6;   // invalid file
    case 16:
      return 7;   // removal of the current folder
    case 24: case 25:
      return 9;   // bad seek
    case 20: case 21: case 22: case 23:
      return 10;  // hardware error
    case 32:
      return 11;  // sharing violation
    case 33:
      return 12;  // lock violation
    case 39: case 112:
      return 13;  // disk full
    default:
      return 1;   // generic
  }
}

int RestoreDriverFromBackup(Platform& os, std::u16string_view path,
                            RestoreFinding* finding) {
  RestoreFinding found;
  if (finding == nullptr) finding = &found;
  const std::u16string backup = BackupPathOf(path);
  if (LookForFile(os, LoaderPath(backup)) == 0) {
    finding->backup_missing = true;
    RunLog << Message::kBackupDriverMissing << backup << kEndLine;
    return 0;
  }
  // Named as the loader will open it: a copy restored under a name Win32
  // trims would lie where the loader does not look.
  const Status status = os.RenameFile(LoaderPath(backup), LoaderPath(path));
  finding->rename = status;
  if (status == win::kSuccess) {
    g_changesMade = 1;
    return 1;
  }
  RunLog << backup << u" " << Message::kNotConverted
         << static_cast<long long>(FileErrorCause(status)) << kEndLine;
  // Refused because a file has the driver's name: the driver is there,
  // although the existence test could not see it.
  if (status == win::kAlreadyExists || status == win::kFileExists) {
    return kCannotTell;
  }
  return 0;
}

int LookForDriverFile(Platform& os, std::u16string_view serviceName, const RegKey& service,
                      DriverFileFinding* found) {
  std::u16string imagePath;
  // A service key or ImagePath that cannot be read says nothing about where
  // the driver lies: the name is not judged by its file.
  if (ReadServiceValue(service, u"ImagePath", &imagePath, &found->image_path_error) != 1) {
    return kCannotTell;
  }
  found->image_path_read = true;
  found->image_path = imagePath;
  const DriverFileLocation driver = LocateDriverFile(imagePath, serviceName, g_systemRoot);
  found->form = driver.form;
  found->path = driver.path;
  if (driver.form == ImagePathForm::kUnknown) return kCannotTell;
  // As the loader opens it: a name that ends in a blank or a dot is not
  // the file Win32 would find without them.
  found->look = os.FindPath(LoaderPath(driver.path));
  found->present = FilePresence(found->look);
  return found->present;
}

int CheckDriverFile(Platform& os, std::u16string_view serviceName,
                    const RegKey& service, DriverFileFinding* finding) {
  DriverFileFinding found;
  const auto answer = [&](int result) {
    if (finding != nullptr) *finding = found;
    return result;
  };
  // Present, or a file that cannot be seen or looked for: nothing to log,
  // nothing to restore.
  if (const int present = LookForDriverFile(os, serviceName, service, &found); present != 0) {
    return answer(present);
  }
  const DriverFileLocation driver{found.form, found.path};

  if (driver.form == ImagePathForm::kDefault) {
    RunLog << Message::kNoImagePathDriverMissing << serviceName << kEndLine;
    found.restored = RestoreDriverFromBackup(os, driver.path, &found.restore);
    return answer(found.restored);
  }
  RunLog << Message::kDriverFileMissing << driver.path << kEndLine;
  found.restored = RestoreDriverFromBackup(os, driver.path, &found.restore);
  if (found.restored == 1) {
    RunLog << driver.path << Message::kConvertedFromBak << kEndLine;
  }
  return answer(found.restored);
}

}  // namespace tarvox
