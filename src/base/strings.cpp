#include "base/strings.h"

#include <map>

namespace scour {

namespace {

const std::map<int, std::wstring>& Table() {
    static const std::map<int, std::wstring> table = {
        {IDS_MODE_TITLE, L"Start options"},
        {IDS_MODE_SUBTITLE,
         L"Wiping can be started automatically or manually after booting off the Scourline "
         L"bootable disk. Please select the way of running the process."},
        {IDS_SCHEME_TITLE, L"Wiping scheme"},
        {IDS_SCHEME_SUBTITLE, L"Select wiping scheme Scourline will use."},
        {IDS_ATA_TITLE, L"ATA or SATA hard drives"},
        {IDS_ATA_SUBTITLE, L"Select options for wiping ATA or SATA hard drives."},
        {IDS_SUMMARY_TITLE, L"Options summary"},
        {IDS_SUMMARY_SUBTITLE,
         L"The list below contains the options selected for Scourline boot disk"},
        {IDS_MEDIA_TITLE, L"Bootable disk type"},
        {IDS_MEDIA_SUBTITLE, L"Select type of bootable media for Scourline."},
        {IDS_USB_TITLE, L"Bootable USB disk"},
        {IDS_USB_SUBTITLE,
         L"Select disk from the list below and format it as bootable Scourline disk."},
        {IDS_ISO_TITLE, L"ISO image"},
        {IDS_ISO_SUBTITLE, L"Create ISO image of bootable CD/DVD"},
        {IDS_LOG_TITLE, L"Log options"},
        {IDS_LOG_SUBTITLE, L"Set logging options here"},
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
        {IDS_SHARE_TEST_PASSED, L"Test passed"},
        {IDS_SHARE_TEST_FAILED, L"Test failed"},
        {IDS_SHARE_OK, L"Network share ok"},
        {IDS_SHARE_ACCESS_DENIED, L"Network share access denied"},
        {IDS_SHARE_NOT_FOUND, L"Network share not found"},
        {IDS_SHARE_INVALID_PASSWORD, L"Invalid password"},
        {IDS_SHARE_CREDENTIAL_CONFLICT,
         L"You are already connected to this share with different credentials"},
        {IDS_SHARE_INVALID_USER, L"Invalid user name"},
        {IDS_SHARE_COULD_NOT_TEST, L"Could not test the share"},
        {IDS_CANCEL_QUESTION, L"Are you sure you want to quit Scourline Configuration Wizard?"},
        {IDS_BROWSE_PROMPT, L"Choose folder to store Scourline ISO image file:"},
        {IDS_ABOUT_VERSION_FORMAT, L"Version %s build %s"},
        {IDS_ABOUT_MENU_ITEM, L"About"},
        {IDS_ISO_CONFIG_FAILED,
         L".ISO image creation failed.\nCould not write the boot configuration."},
        {IDS_NET_START_FAILED,
         L"Could not start network boot tree creation.\nNo folder can be made beside:\n"},
        {IDS_NET_NO_BOOT_FILES,
         L"Network boot tree creation failed.\nThe program folder lacks the network boot files:\n"},
        {IDS_NET_NOT_A_FOLDER, L"Network boot tree creation failed.\nThis is not a folder:\n"},
        {IDS_NET_FOREIGN_FOLDER,
         L"Network boot tree creation failed.\nThis folder holds files of its own; choose an "
         L"empty folder or a network boot tree made before:\n"},
        {IDS_NET_COPY_FAILED,
         L"Network boot tree creation failed.\nCould not copy the boot files from:\n"},
        {IDS_NET_CONFIG_FAILED,
         L"Network boot tree creation failed.\nCould not write the boot configuration."},
        {IDS_NET_PLACE_FAILED,
         L"Network boot tree creation failed.\nCould not move the new tree into place:\n"},
        {IDS_NET_BAD_PATH,
         L"Network boot tree creation failed.\nThe TFTP server cannot be told this folder (a "
         L"comma, a line break or a character of no code page in its path):\n"},
        {IDS_NO_SCHEME_INSTALLED,
         L"No wiping scheme is installed, so Scourline cannot wipe automatically.\nPlease "
         L"reinstall the application, or choose interactive mode on the start options page."},
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
