// The one table of user-visible texts, by the identifiers the resources use.
#pragma once

#include <string>

namespace scour {

enum StringId : int {
    // Page header titles and subtitles.
    IDS_MODE_TITLE = 129,
    IDS_MODE_SUBTITLE = 130,
    IDS_SCHEME_TITLE = 131,
    IDS_SCHEME_SUBTITLE = 132,
    IDS_ATA_TITLE = 133,
    IDS_ATA_SUBTITLE = 134,
    IDS_SUMMARY_TITLE = 135,
    IDS_SUMMARY_SUBTITLE = 136,
    IDS_MEDIA_TITLE = 137,
    IDS_MEDIA_SUBTITLE = 138,
    IDS_USB_TITLE = 139,
    IDS_USB_SUBTITLE = 140,
    IDS_ISO_TITLE = 141,
    IDS_ISO_SUBTITLE = 142,
    IDS_LOG_TITLE = 167,
    IDS_LOG_SUBTITLE = 168,
    IDS_WIZARD_CAPTION = 144,
    IDS_COMPONENTS_MISSING = 145,
    IDS_ISO_START_FAILED = 146,
    IDS_ISO_MISSING_FILE = 147,
    IDS_ISO_BAD_OUTPUT = 148,
    IDS_ISO_DEST_FAILED = 149,
    IDS_RUN_AS_ADMIN = 150,
    IDS_USB_CONFIRM_OVERWRITE = 151,
    IDS_USB_FILES_OPEN = 152,
    IDS_USB_MBR_FAILED = 153,
    IDS_USB_NOT_FORMATTED = 154,
    IDS_USB_DONE = 155,
    IDS_USB_COPY_FAILED = 156,
    // Texts of this program's own, beyond the wizard's table.
    IDS_PATH_TOO_LONG = 170,
    IDS_ISO_NO_PATH = 171,
    // The share test's captions and messages.
    IDS_SHARE_TEST_PASSED = 172,
    IDS_SHARE_TEST_FAILED = 173,
    IDS_SHARE_OK = 174,
    IDS_SHARE_ACCESS_DENIED = 175,
    IDS_SHARE_NOT_FOUND = 176,
    IDS_SHARE_INVALID_PASSWORD = 177,
    IDS_SHARE_CREDENTIAL_CONFLICT = 178,
    IDS_SHARE_INVALID_USER = 179,
    IDS_SHARE_COULD_NOT_TEST = 180,
    // The sheet's Cancel question, the ISO page's folder prompt, the About box.
    IDS_CANCEL_QUESTION = 181,
    IDS_BROWSE_PROMPT = 182,
    IDS_ABOUT_VERSION_FORMAT = 183,
    IDS_ABOUT_MENU_ITEM = 184,
    // The ISO image builder's own failure beyond the wizard's table.
    IDS_ISO_CONFIG_FAILED = 185,
    // The scheme page with an empty catalogue.
    IDS_NO_SCHEME_INSTALLED = 190,
    // The network boot tree builder's failures.
    IDS_NET_START_FAILED = 191,
    IDS_NET_NO_BOOT_FILES = 192,
    IDS_NET_NOT_A_FOLDER = 193,
    IDS_NET_FOREIGN_FOLDER = 194,
    IDS_NET_COPY_FAILED = 195,
    IDS_NET_CONFIG_FAILED = 196,
    IDS_NET_PLACE_FAILED = 197,
    IDS_NET_BAD_PATH = 198,
};

// The text of a string-table entry; empty for an unknown id.
const std::wstring& LoadText(int id);

}  // namespace scour
