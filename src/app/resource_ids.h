// Identifiers of the dialogs, controls, bitmaps and icon, as the resources and
// both frames use them.
#pragma once

namespace scour {

enum DialogId : int {
    IDD_ABOUT = 100,
    IDD_WELCOME = 203,
    IDD_COMPLETION = 204,
    IDD_MODE = 205,
    IDD_SCHEME = 206,
    IDD_ATA = 207,
    IDD_SUMMARY = 208,
    IDD_MEDIA = 209,
    IDD_ISO = 210,
    IDD_USB = 211,
    IDD_LOG = 213,
    IDD_PASSWORD = 214,
};

enum ResourceId : int {
    IDI_PROGRAM = 128,
    IDB_WATERMARK = 201,
    IDB_HEADER = 202,
};

enum ControlId : int {
    IDC_STATIC = -1,
    IDC_OK = 1,
    IDC_CANCEL = 2,
    IDC_TITLE = 1000,
    IDC_MODE_AUTO = 1002,
    IDC_MODE_INTERACTIVE = 1003,
    IDC_MODE_SELECT_DISKS = 1004,
    IDC_MODE_NO_DELAY = 1005,
    IDC_SCHEME_LIST = 1006,
    IDC_SCHEME_VERIFY = 1008,
    IDC_ATA_DCO = 1009,
    IDC_ATA_HPA = 1010,
    IDC_ATA_ERASE = 1011,
    IDC_SUMMARY_TEXT = 1013,
    IDC_MEDIA_ISO = 1014,
    IDC_MEDIA_USB = 1015,
    IDC_ISO_PATH = 1016,
    IDC_ISO_SHOW_FOLDER = 1017,
    IDC_USB_LIST = 1018,
    IDC_ISO_BROWSE = 1019,
    IDC_USB_FORMAT = 1021,
    IDC_USB_PROGRESS = 1022,
    IDC_ABOUT_VERSION = 1030,
    IDC_LOG_REMOVABLE = 1031,
    IDC_LOG_NETWORK = 1032,
    IDC_LOG_SHARE = 1033,
    IDC_LOG_USER = 1034,
    IDC_LOG_PASSWORD = 1035,
    IDC_LOG_PASSWORD_LABEL = 1036,
    IDC_LOG_USER_LABEL = 1037,
    IDC_LOG_SHARE_LABEL = 1038,
    IDC_LOG_TEST = 1039,
    IDC_LOG_WARNING = 1042,
    IDC_LOG_SAVE_PASSWORD = 1043,
    IDC_PASSWD_PASSWORD = 1046,
    IDC_PASSWD_USER = 1047,
    IDC_PASSWD_SHARE = 1048,
    // The start options page's test box and the media page's first
    // description share this number; they never stand on one page.
    IDC_MODE_TEST = 1052,
    IDC_MEDIA_ISO_TEXT = 1052,
    IDC_MEDIA_USB_TEXT = 1053,
};

// The system menu command of the About item.
inline constexpr int kAboutCommand = 16;

}  // namespace scour
