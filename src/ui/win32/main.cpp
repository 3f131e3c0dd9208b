// scourline-wizard.exe: the Configuration Wizard's entry.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "ui/win32/wizard_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int showCommand) {
    // The result is not looked at: the shell dialogs work either way.
    (void)CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);

    int code = 0;
    {
        scour::win32::WizardApp app(instance, showCommand);
        code = app.Main(commandLine);
    }
    CoUninitialize();
    return code;
}
