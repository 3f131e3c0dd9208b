#include "app/dialogs.h"

#include "app/resource_ids.h"

namespace scour {

namespace {

constexpr const wchar_t* kShellFont = L"MS Shell Dlg";
constexpr ControlKind S = ControlKind::Static;
constexpr ControlKind R = ControlKind::Radio;
constexpr ControlKind C = ControlKind::CheckBox;
constexpr ControlKind E = ControlKind::Edit;
constexpr ControlKind B = ControlKind::PushButton;
constexpr ControlKind D = ControlKind::DefaultButton;
constexpr unsigned kEdit = kBorder | kAutoHScroll | kTabStop;
// Interior pages are 317 x 143 below the header band; exterior pages 317 x 179.
constexpr int kPageCx = 317, kInteriorCy = 143, kExteriorCy = 179;

std::vector<DialogDesc> MakeDialogs() {
    return {
        {IDD_ABOUT,
         L"About Configuration Wizard",
         262,
         166,
         L"MS Sans Serif",
         8,
         {
             {IDC_STATIC, S, L"Scourline Configuration Wizard", 7, 10, 248, 9, kCentered},
             {IDC_ABOUT_VERSION, S, L"", 7, 22, 248, 9, kCentered},
             {IDC_STATIC, S, L"Copyright \u00a9 2026 Valdane. All rights reserved.", 7, 45, 248, 8,
              kCentered},
             {IDC_OK, D, L"OK", 105, 145, 50, 14, kTabStop},
         }},
        {IDD_WELCOME,
         L"Configuration Wizard",
         kPageCx,
         kExteriorCy,
         kShellFont,
         8,
         {
             {IDC_TITLE, S, L"Welcome to the Scourline Configuration Wizard", 115, 8, 195, 38,
              kTitleFont},
             {IDC_STATIC, S,
              L"Scourline from Valdane is a powerful utility software designed to wipe contents "
              L"of an entire hard drive including partition tables, boot records, filesystem "
              L"structures and all other data stored on the drive.",
              115, 54, 195, 38, kWordWrap},
             {IDC_STATIC, S,
              L"Since Scourline wipes all sections of the hard drive, the utility must be run "
              L"from a bootable disk (CD or USB disk) inserted into the computer.",
              115, 92, 195, 26, kWordWrap},
             {IDC_STATIC, S,
              L"This Wizard will help you create and customize the ISO image of the Scourline "
              L"bootable CD and/or create bootable USB disk, from where the wiping process will "
              L"run.",
              115, 122, 195, 33, kWordWrap},
             {IDC_STATIC, S, L"To continue, click Next", 115, 159, 195, 15, kWordWrap},
         }},
        {IDD_COMPLETION,
         L"Configuration Wizard",
         kPageCx,
         kExteriorCy,
         kShellFont,
         8,
         {
             {IDC_TITLE, S, L"Completing the Scourline Configuration Wizard", 115, 8, 195, 41,
              kTitleFont},
             {IDC_STATIC, S, L"You have successfully completed the Scourline Configuration Wizard.",
              115, 49, 194, 19, kWordWrap},
             {IDC_STATIC, S, L"To close the Wizard, click Finish.", 116, 159, 195, 11, kWordWrap},
         }},
        {IDD_MODE,
         L"",
         kPageCx,
         kInteriorCy,
         kShellFont,
         8,
         {
             {IDC_MODE_AUTO, R, L"Boot computer and start wiping automatically", 28, 18, 265, 10,
              kGroup | kTabStop},
             {IDC_MODE_SELECT_DISKS, C, L"Let me select drives for wiping", 40, 33, 253, 10,
              kTabStop},
             {IDC_MODE_NO_DELAY, C, L"Start wiping immediately (dangerous)", 40, 47, 253, 10,
              kTabStop},
             {IDC_MODE_INTERACTIVE, R, L"Start Scourline in interactive mode", 28, 70, 265, 10,
              kTabStop},
             {IDC_MODE_TEST, C, L"Hardware compatibility test, no wiping allowed", 40, 85, 253, 10,
              kHidden | kTabStop},
         }},
        {IDD_LOG,
         L"",
         kPageCx,
         kInteriorCy,
         kShellFont,
         8,
         {
             {IDC_LOG_REMOVABLE, C, L"Write log file to removable USB or floppy disk.", 28, 6, 265,
              10, kTabStop},
             {IDC_LOG_NETWORK, C, L"Write log file to network share", 28, 22, 265, 10, kTabStop},
             {IDC_LOG_SHARE_LABEL, S, L"Network share", 40, 40, 62, 8, kStyleNone},
             {IDC_LOG_SHARE, E, L"", 105, 38, 188, 12, kEdit},
             {IDC_LOG_USER_LABEL, S, L"Username", 40, 56, 62, 8, kStyleNone},
             {IDC_LOG_USER, E, L"", 105, 54, 188, 12, kEdit},
             {IDC_LOG_SAVE_PASSWORD, C, L"Save password", 40, 71, 150, 10, kTabStop},
             {IDC_LOG_PASSWORD_LABEL, S, L"Password", 40, 88, 62, 8, kStyleNone},
             {IDC_LOG_PASSWORD, E, L"", 105, 86, 188, 12, kEdit | kPassword},
             {IDC_LOG_WARNING, S, L"Warning! Password is stored as plain text", 105, 102, 188, 8,
              kStyleNone},
             {IDC_LOG_TEST, B, L"Test", 243, 118, 50, 14, kTabStop},
         }},
        {IDD_SCHEME,
         L"",
         kPageCx,
         kInteriorCy,
         kShellFont,
         8,
         {
             {IDC_SCHEME_LIST, ControlKind::DropDownList, L"", 28, 24, 265, 120,
              kVScroll | kTabStop},
             {IDC_SCHEME_VERIFY, C, L"Enable verification", 28, 48, 265, 10, kTabStop},
         }},
        {IDD_ATA,
         L"",
         kPageCx,
         kInteriorCy,
         kShellFont,
         8,
         {
             {IDC_ATA_HPA, C, L"Reset the Host Protected Area (HPA)", 28, 10, 265, 10, kTabStop},
             {IDC_STATIC, S,
              L"HPA reserved sectors are hidden from the operating system. After reset they "
              L"become available for wiping",
              40, 23, 253, 18, kWordWrap},
             {IDC_ATA_DCO, C, L"Reset the Device Configuration Overlay (DCO) settings", 28, 50, 265,
              10, kTabStop},
             {IDC_STATIC, S,
              L"DCO feature allows ATA drive to reserve sectors at the end of drive. Resetting "
              L"DCO will make these sectors available for wiping",
              40, 63, 253, 18, kWordWrap},
             {IDC_ATA_ERASE, C, L"Replace the last wiping pass by ATA ERASE command", 28, 90, 265,
              10, kTabStop},
             {IDC_STATIC, S,
              L"ATA ERASE command overwrites all data on disk including hidden and reallocated "
              L"sectors",
              40, 103, 253, 18, kWordWrap},
         }},
        {IDD_SUMMARY,
         L"",
         kPageCx,
         kInteriorCy,
         kShellFont,
         8,
         {
             {IDC_SUMMARY_TEXT, S, L"", 28, 6, 265, 130, kWordWrap | kNoPrefix},
         }},
        {IDD_MEDIA,
         L"",
         kPageCx,
         kInteriorCy,
         kShellFont,
         8,
         {
             {IDC_MEDIA_ISO, R, L"ISO image", 28, 29, 265, 10, kGroup | kTabStop},
             {IDC_MEDIA_ISO_TEXT, S,
              L"The Wizard creates universal .ISO image file for x86, x64, Itanium and 64-bit "
              L"Sparc systems. Use CD/DVD burning software to make the bootable disk.",
              40, 44, 253, 20, kWordWrap},
             {IDC_MEDIA_USB, R, L"Bootable USB disk", 28, 73, 265, 10, kTabStop},
             {IDC_MEDIA_USB_TEXT, S,
              L"The Wizard initializes universal bootable USB disk for x86, x64 and Itanium "
              L"platforms. ",
              40, 86, 253, 20, kWordWrap},
         }},
        {IDD_ISO,
         L"",
         kPageCx,
         kInteriorCy,
         kShellFont,
         8,
         {
             {IDC_STATIC, S, L".ISO image file name", 28, 32, 265, 8, kStyleNone},
             {IDC_ISO_PATH, E, L"", 28, 43, 227, 14, kEdit},
             {IDC_ISO_BROWSE, B, L"Browse", 256, 43, 50, 14, kTabStop},
             {IDC_ISO_SHOW_FOLDER, C, L"Open the destination folder when finished", 28, 119, 265,
              10, kTabStop},
         }},
        {IDD_USB,
         L"",
         kPageCx,
         kInteriorCy,
         kShellFont,
         8,
         {
             {IDC_USB_LIST, ControlKind::ListView, L"", 18, 11, 281, 98, kBorder | kTabStop},
             {IDC_USB_PROGRESS, ControlKind::Progress, L"", 18, 109, 281, 8, kBorder | kHidden},
             {IDC_USB_FORMAT, B, L"Format and Create", 222, 123, 77, 14, kTabStop},
             // Two lines high: with wider fonts than the one it was laid out for,
             // the warning wraps, and its second line must not be cut off.
             {IDC_STATIC, S, L"Important! Use FAT or FAT32 filesystem to format the disk.", 18, 124,
              191, 18, kStyleNone},
         }},
        {IDD_PASSWORD,
         L"Enter password",
         234,
         87,
         kShellFont,
         8,
         {
             {IDC_STATIC, S, L"Share", 7, 9, 50, 8, kStyleNone},
             {IDC_PASSWD_SHARE, E, L"", 60, 7, 167, 12, kEdit | kReadOnly},
             {IDC_STATIC, S, L"Username", 7, 25, 50, 8, kStyleNone},
             {IDC_PASSWD_USER, E, L"", 60, 23, 167, 12, kEdit | kReadOnly},
             {IDC_STATIC, S, L"Password", 7, 41, 50, 8, kStyleNone},
             {IDC_PASSWD_PASSWORD, E, L"", 60, 39, 167, 12, kEdit | kPassword},
             {IDC_OK, D, L"OK", 120, 66, 50, 14, kTabStop},
             {IDC_CANCEL, B, L"Cancel", 177, 66, 50, 14, kTabStop},
         }},
    };
}

}  // namespace

const std::vector<DialogDesc>& AllDialogs() {
    static const std::vector<DialogDesc> dialogs = MakeDialogs();
    return dialogs;
}

const DialogDesc* FindDialog(int id) {
    for (const auto& d : AllDialogs()) {
        if (d.id == id) {
            return &d;
        }
    }
    return nullptr;
}

const ControlDesc* FindControl(const DialogDesc& dialog, int id) {
    if (id == IDC_STATIC) {
        return nullptr;
    }
    for (const auto& c : dialog.controls) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace scour
