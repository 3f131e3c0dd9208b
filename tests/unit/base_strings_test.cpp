#include "base/strings.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace scour {
namespace {

// The message texts the wizard shows, character for character: users and
// their scripts know them as they stand.
TEST(StringTable, MessageTexts) {
    const std::pair<int, const wchar_t*> messages[] = {
        {144, L"Scourline Configuration Wizard"},
        {145, L"Critical Scourline components are missing.\nPlease reinstall the application."},
        {146, L"Could not start .ISO image creation"},
        {147, L".ISO image creation failed.\nMissing file."},
        {148, L".ISO image creation failed.\nBad output."},
        {149, L".ISO image creation failed.\nCould not open destination file for writing."},
        {150, L"Please run Scourline Configuration Wizard as Administrator"},
        {151,
         L"Scourline will completely overwrite the contents of the removable disk.\n"
         L"Please make certain that the disk does not contain any files you wish to keep before "
         L"proceeding.\n\nAre you sure you want to overwrite the removable disk?"},
        {152,
         L"There are opened files or windows from the removable disk.\n\n"
         L"Close all the files or windows and run the command again."},
        {153, L"Error in creating MBR sector."},
        {154, L"The disk was not formatted."},
        {155,
         L"Scourline has successfully initialized the removable disk for wiping purposes at boot "
         L"time.\n\nNOTE: 'USB disk' or 'USB Zip/LS' must be set as the first boot device\n"
         L"in BIOS to boot from USB flash disk."},
        {156, L"Error in copying file to the removable disk."},
    };
    for (const auto& [id, text] : messages) {
        EXPECT_EQ(ToUtf8(LoadText(id)), ToUtf8(text)) << "string " << id;
    }
    EXPECT_EQ(LoadText(IDS_WIZARD_CAPTION), LoadText(144));
    EXPECT_EQ(LoadText(IDS_USB_COPY_FAILED), LoadText(156));
    EXPECT_TRUE(LoadText(157).empty());
}

}  // namespace
}  // namespace scour
