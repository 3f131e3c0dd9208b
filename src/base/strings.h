// The one table of user-visible texts, by the identifiers the resources use.
#pragma once

#include <string>

namespace scour {

enum StringId : int {
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
};

// The text of a string-table entry; empty for an unknown id.
const std::wstring& LoadText(int id);

}  // namespace scour
