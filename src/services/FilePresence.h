// Whether a file is there, as the checks may judge it: a driver file, its
// ".bak" copy, the product's co-installer DLL.
#pragma once

#include <string_view>

#include "platform/Platform.h"
#include "services/Verdict.h"

namespace tarvox {

// What an existence test's answer says:
// - 1: the path names a file or folder;
// - 0: the path names none: file not found (2), path not found (3, also a
//   file used as a folder and, on Windows, a drive that does not exist),
//   invalid drive (15), invalid name (123, also a path with a wildcard),
//   bad path name (161), not a folder (267);
// - kCannotTell: every other error. Access denied, a sharing or lock error,
//   a network path or device that does not answer: the file may well be
//   there. Also a name too long (206), which a path the tool builds only
//   gives when the long form of the path could not be made.
int FilePresence(Status answer);

// FilePresence of the existence test of `path`.
int LookForFile(Platform& os, std::u16string_view path);

}  // namespace tarvox
