#include "base/strings.h"

#include <map>

namespace scour {

namespace {

const std::map<int, std::wstring>& Table() {
    static const std::map<int, std::wstring> table = {
        {IDS_WIZARD_CAPTION, L"Scourline Configuration Wizard"},
        {IDS_COMPONENTS_MISSING,
         L"Critical Scourline components are missing.\nPlease reinstall the application."},
        {IDS_ISO_START_FAILED, L"Could not start .ISO image creation"},
        {IDS_ISO_MISSING_FILE, L".ISO image creation failed.\nMissing file."},
        {IDS_ISO_BAD_OUTPUT, L".ISO image creation failed.\nBad output."},
        {IDS_ISO_DEST_FAILED,
         L".ISO image creation failed.\nCould not open destination file for writing."},
        {IDS_RUN_AS_ADMIN, L"Please run Scourline Configuration Wizard as Administrator"},
        {IDS_USB_CONFIRM_OVERWRITE,
         L"Scourline will completely overwrite the contents of the removable disk.\nPlease make "
         L"certain that the disk does not contain any files you wish to keep before "
         L"proceeding.\n\nAre you sure you want to overwrite the removable disk?"},
        {IDS_USB_FILES_OPEN,
         L"There are opened files or windows from the removable disk.\n\nClose all the files or "
         L"windows and run the command again."},
        {IDS_USB_MBR_FAILED, L"Error in creating MBR sector."},
        {IDS_USB_NOT_FORMATTED, L"The disk was not formatted."},
        {IDS_USB_DONE,
         L"Scourline has successfully initialized the removable disk for wiping purposes at boot "
         L"time.\n\nNOTE: 'USB disk' or 'USB Zip/LS' must be set as the first boot device\nin "
         L"BIOS to boot from USB flash disk."},
        {IDS_USB_COPY_FAILED, L"Error in copying file to the removable disk."},
        // Followed by the path itself.
        {IDS_PATH_TOO_LONG, L"A path is too long for Scourline:\n"},
        {IDS_ISO_NO_PATH, L"No file name is given for the .ISO image."},
    };
    return table;
}

}  // namespace

const std::wstring& LoadText(int id) {
    static const std::wstring empty;
    const auto& table = Table();
    auto it = table.find(id);
    return it == table.end() ? empty : it->second;
}

}  // namespace scour
