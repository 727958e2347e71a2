// Any ImagePath, service name and Windows folder: the driver file is looked
// for exactly where its form says, built only from the texts given, under
// names as written; and the backup path is the path less three units, plus
// "bak".
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "multisz/Names.h"
#include "services/DriverFile.h"

namespace {

using tarvox::ImagePathForm;

void Check(bool condition) {
  if (!condition) std::abort();
}

bool StartsWithName(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         tarvox::SameName(text.substr(0, prefix.size()), prefix);
}

bool IsDrivePath(std::u16string_view path) {
  const char16_t letter = path.empty() ? u'\0' : tarvox::FoldAsciiLetter(path[0]);
  return path.size() >= 3 && letter >= u'a' && letter <= u'z' &&
         path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

// Splits the input at its first two 0xFFFF units (a unit no text of the
// tests holds) into ImagePath, service name and Windows folder.
std::u16string_view Next(std::u16string_view* rest) {
  const std::size_t cut = rest->find(u'\xFFFF');
  const std::u16string_view part = rest->substr(0, cut);
  rest->remove_prefix(cut == std::u16string_view::npos ? rest->size() : cut + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // Exactly the input's units, in a string of their own: a read past the
  // text is a read past this allocation.
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  std::u16string_view rest = units;
  const std::u16string image(Next(&rest));
  const std::u16string service(Next(&rest));
  const std::u16string windows(rest);

  const tarvox::DriverFileLocation found =
      tarvox::LocateDriverFile(image, service, windows);
  const std::u16string& path = found.path;
  switch (found.form) {
    case ImagePathForm::kDefault:
      Check(image.empty() && !windows.empty());
      Check(path == windows + u"\\system32\\drivers\\" + service + u".sys");
      break;
    case ImagePathForm::kSystemRootVariable:
      Check(StartsWithName(image, u"%SystemRoot%\\") && !windows.empty());
      Check(path == windows + image.substr(12));
      break;
    case ImagePathForm::kSystemRootPrefix:
      Check(StartsWithName(image, u"\\SystemRoot\\") && !windows.empty());
      Check(path == windows + image.substr(11));
      break;
    case ImagePathForm::kRelative:
      // Below the Windows folder, whatever the current folder is.
      Check(!image.empty() && image[0] != u'\\' && image[0] != u'%' &&
            !(image.size() >= 2 && image[1] == u':') && !windows.empty());
      Check(path == windows + u"\\" + image);
      break;
    case ImagePathForm::kNtDrivePath:
      Check(image[0] == u'\\' && IsDrivePath(path));
      Check(image.size() > path.size() && image.ends_with(path) &&
            image[image.size() - path.size() - 1] == u'\\');
      break;
    case ImagePathForm::kAbsolute:
      Check(IsDrivePath(image) && path == image);
      break;
    case ImagePathForm::kUnknown:
      Check(path.empty());
      break;
  }
  // Every located path lies below the Windows folder or on a drive.
  Check(path.empty() || IsDrivePath(path) ||
        (!windows.empty() && path.starts_with(windows)));

  // As the loader opens it: the path itself, or its literal form, resolved
  // once and for all (no '/', no "." or ".." and no empty name left in it).
  const std::u16string loaded = tarvox::LoaderPath(path);
  if (loaded != path) {
    const std::u16string_view names = std::u16string_view(loaded).substr(4);
    Check(IsDrivePath(path) && loaded.starts_with(u"\\\\?\\") && IsDrivePath(names) &&
          names.compare(0, 2, path, 0, 2) == 0 && names.find(u'/') == names.npos &&
          names.find(u"\\\\") == names.npos && names.find(u"\\.\\") == names.npos &&
          names.find(u"\\..\\") == names.npos && !names.ends_with(u"\\.") &&
          !names.ends_with(u"\\.."));
    // Its names need no more resolving (a name Win32 would read otherwise
    // may have gone with a ".." after it).
    const std::u16string again = tarvox::LoaderPath(names);
    Check(again == loaded || again == names);
  }

  const std::u16string backup = tarvox::BackupPathOf(image);
  const std::size_t kept = image.size() >= 3 ? image.size() - 3 : 0;
  Check(backup.size() == kept + 3);
  Check(backup.compare(0, kept, image, 0, kept) == 0 && backup.ends_with(u"bak"));
  return 0;
}
