#include "options/summary.h"

namespace scour {

std::wstring BuildSummaryText(WizardOptions& options) {
    options.ClampScheme();
    // Booleans are read as any non-zero value meaning true, like every other reader.
    std::wstring text = L"The following settings will be used for Scourline bootable disk:\n\n";
    if (options.AutoStart != 0) {
        text += L"- wipe hard drives automatically;\n";
        if (options.SelectDisks != 0) {
            text += L"- let the user to select disks for wiping;\n";
        }
        if (options.WriteLog != 0) {
            text += L"- log results to removable drive;\n";
        }
        if (options.NetLog != 0) {
            text += L"- log results to " + options.NetShare + L" network share;\n";
        }
        // With no scheme installed there is no name to show; say so instead.
        if (const SchemeEntry* scheme = options.ChosenScheme()) {
            text += L"- " + scheme->Name + L";\n";
        } else {
            text += L"- no wiping scheme installed;\n";
        }
        text += options.Verify != 0 ? L"- enable verification;\n" : L"- disable verification;\n";
        if (options.ResetHPA != 0) {
            text += L"- reset HPA area on ATA/SATA hard drives;\n";
        }
        if (options.ResetDCO != 0) {
            text += L"- reset DCO area on ATA/SATA hard drives;\n";
        }
        if (options.AtaErase != 0) {
            text += L"- replace the last wiping pass by ATA ERASE command;\n";
        }
    } else {
        text += options.TestMode != 0 ? L"- Hardware compatibility test mode, no wiping allowed;\n"
                                      : L"- start Scourline in interactive mode;\n";
        if (options.WriteLog != 0) {
            text += L"- log results to removable drive;\n";
        }
    }
    return text;
}

}  // namespace scour
