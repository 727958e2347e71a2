#include "services/FilePresence.h"

namespace tarvox {

int FilePresence(Status answer) {
  switch (answer) {
    case win::kSuccess:
      return 1;
    case win::kFileNotFound:
    case win::kPathNotFound:
    case win::kInvalidDrive:
    case win::kInvalidName:
    case win::kBadPathname:
    case win::kDirectory:
      return 0;
    default:
      return kCannotTell;
  }
}

int LookForFile(Platform& os, std::u16string_view path) {
  return FilePresence(os.FindPath(path));
}

}  // namespace tarvox
