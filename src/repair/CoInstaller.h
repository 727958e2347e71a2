// The product's own co-installer entry for the CD-ROM class.
#pragma once

#include <string_view>

#include "platform/Platform.h"
#include "repair/KeyFilterList.h"

namespace tarvox {

class RunContext;

inline constexpr std::u16string_view kCoDeviceInstallersKey =
    u"SYSTEM\\CurrentControlSet\\Control\\CoDeviceInstallers";
// The CD-ROM class's GUID, the last name of its class key.
inline constexpr std::u16string_view kCdromClassGuid =
    kCdromClassKey.substr(kCdromClassKey.rfind(u'\\') + 1);
// Entries of the product's co-installer hold this text, in this case.
inline constexpr std::u16string_view kProductCoInstallerMarker = u"OrvaneCo";

// Finds the first entry of the CD-ROM class's co-installer list that holds
// the product's marker and removes it (and every entry equal to it) when its
// DLL is not in the system folder: Windows would fail to load it for every
// CD-ROM device. 1 when that entry was found and its DLL is there;
// kCannotTell when its DLL could not be looked for (the Windows folder is
// unknown, or the DLL cannot be seen): the entry stays; 0 in every other case
// (key not opened, no product entry, no "." in it, entry removed). Logs only
// a key it cannot open.
int CheckCoInstaller(Platform& os, RunContext& run);

}  // namespace tarvox
