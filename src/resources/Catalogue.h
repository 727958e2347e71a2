/* The message catalogue: ids and texts of the string table (language 1033).
   Included by the resource script, which builds the table of Tarvox.exe, and
   by C++ code, which names messages by id. The texts are the program's own
   words and stay exactly as they are, blanks included. */
#ifndef TARVOX_RESOURCES_CATALOGUE_H
#define TARVOX_RESOURCES_CATALOGUE_H

#define IDS_NOT_SUPPORTED_PLATFORM 201
#define IDS_REBOOT_NOTICE 202
#define IDS_NOT_ENOUGH_RIGHTS 203
#define IDS_COULD_NOT_OPEN_KEY 206
#define IDS_REDIRECT_FAILED 207
#define IDS_NOT_CONVERTED 208
#define IDS_NO_IMAGE_PATH_DRIVER_MISSING 211
#define IDS_DRIVER_FILE_MISSING 212
#define IDS_CONVERTED_FROM_BAK 213
#define IDS_BACKUP_DRIVER_MISSING 214

#define TEXT_NOT_SUPPORTED_PLATFORM "Not supported platform"
#define TEXT_REBOOT_NOTICE                                              \
  "There was some errors in the registry. The Tarvox corrected this.\n" \
  "       System must be rebooted for changes to become effective."
#define TEXT_NOT_ENOUGH_RIGHTS "Not enough rights. Must login as administrator"
#define TEXT_COULD_NOT_OPEN_KEY "Could not open key :"
#define TEXT_REDIRECT_FAILED "Error on try to redirect cout to file"
#define TEXT_NOT_CONVERTED "could not be converted, cause :"
#define TEXT_NO_IMAGE_PATH_DRIVER_MISSING \
  "No ImagePath and driver file into default image path not found for:  "
#define TEXT_DRIVER_FILE_MISSING "Driver file has not been found:  "
#define TEXT_CONVERTED_FROM_BAK "  converted from *.bak to *.sys file."
#define TEXT_BACKUP_DRIVER_MISSING "Backup driver file has not been found:  "

#if defined(__cplusplus) && !defined(RC_INVOKED)
#include <cstdint>

namespace tarvox {

struct CatalogueEntry {
  std::uint32_t id;
  const char16_t* text;
};

// The same table as the resource script's, for the in-memory machine.
inline constexpr CatalogueEntry kCatalogue[] = {
    {IDS_NOT_SUPPORTED_PLATFORM, u"" TEXT_NOT_SUPPORTED_PLATFORM},
    {IDS_REBOOT_NOTICE, u"" TEXT_REBOOT_NOTICE},
    {IDS_NOT_ENOUGH_RIGHTS, u"" TEXT_NOT_ENOUGH_RIGHTS},
    {IDS_COULD_NOT_OPEN_KEY, u"" TEXT_COULD_NOT_OPEN_KEY},
    {IDS_REDIRECT_FAILED, u"" TEXT_REDIRECT_FAILED},
    {IDS_NOT_CONVERTED, u"" TEXT_NOT_CONVERTED},
    {IDS_NO_IMAGE_PATH_DRIVER_MISSING, u"" TEXT_NO_IMAGE_PATH_DRIVER_MISSING},
    {IDS_DRIVER_FILE_MISSING, u"" TEXT_DRIVER_FILE_MISSING},
    {IDS_CONVERTED_FROM_BAK, u"" TEXT_CONVERTED_FROM_BAK},
    {IDS_BACKUP_DRIVER_MISSING, u"" TEXT_BACKUP_DRIVER_MISSING},
};

}  // namespace tarvox
#endif

#endif
