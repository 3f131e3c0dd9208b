// What the files of the Windows frame share: the pages' slots in the property
// sheet, and the one wizard of the process for the callbacks without context.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ui/win32/wizard_app.h"

namespace scour::win32 {

struct WizardApp::PageSlot {
    WizardApp* app = nullptr;
    CWizardPage* page = nullptr;
    int index = 0;
    HWND window = nullptr;
    std::unique_ptr<Win32PageView> view;
    HFONT titleFont = nullptr;
};

namespace wizard_detail {

// The one wizard of the process: the property-sheet callback has no context.
extern WizardApp* g_app;

std::wstring ClassOf(HWND window);

}  // namespace wizard_detail

}  // namespace scour::win32
