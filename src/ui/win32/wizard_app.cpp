// The Windows wizard's start-up and lifetime: the script read, the volume
// system made, the portable start-up run, and its errors and About box shown.
#include "ui/win32/wizard_app_internal.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/resource_ids.h"
#include "base/strings.h"
#include "base/text.h"
#include "pages/pages.h"
#include "platform/privileges.h"
#include "platform/services.h"

namespace scour::win32 {

namespace wizard_detail {

WizardApp* g_app = nullptr;

}  // namespace wizard_detail

using namespace wizard_detail;

namespace {

// One scripted action per tick: a timer fires only once the queue is empty, so
// posted button changes and page moves have settled before the next action.
constexpr UINT kScriptTickMs = 20;

void CALLBACK ScriptTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_app != nullptr) {
        g_app->ScriptTick();
    }
}

}  // namespace

void WriteStderr(const std::wstring& line) {
    // A GUI program has no console: write to the handle it inherited, or to
    // the console of the program that started it.
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (AttachConsole(ATTACH_PARENT_PROCESS)) {
            out = GetStdHandle(STD_ERROR_HANDLE);
        }
    }
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    std::string bytes = ToUtf8(line + L"\n");
    DWORD written = 0;
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

WizardApp::WizardApp(HINSTANCE instance, int showCommand)
    : instance_(instance), showCommand_(showCommand) {
    g_app = this;
}

WizardApp::~WizardApp() {
    for (auto& slot : slots_) {
        if (slot->titleFont != nullptr) {
            DeleteObject(slot->titleFont);
        }
    }
    g_app = nullptr;
}

int WizardApp::Main(const wchar_t* commandLine) {
    auto& services = platform::DefaultServices();
    const std::wstring programFolder =
        services.environment != nullptr ? services.environment->ProgramFolder() : std::wstring();

    if (const char* scriptFile = std::getenv(kScriptVariable); scriptFile && *scriptFile) {
        std::ifstream in(scriptFile, std::ios::binary);
        if (!in) {
            WriteStderr(L"script: cannot read " + FromUtf8(scriptFile));
            return kExitScriptFailed;
        }
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::wstring error;
        auto actions = ParseScript(FromUtf8(bytes), error);
        if (!actions) {
            WriteStderr(error);
            return kExitScriptFailed;
        }
        script_ = std::make_unique<ScriptRunner>(std::move(*actions));
    }

    if (script_) {
        // Ticks come only from a message loop: the sheet's, or the About box's
        // when the program shows only that.
        scriptTimer_ = SetTimer(nullptr, 0, kScriptTickMs, ScriptTimer);
    }
    volumes_ = platform::CreateVolumeSystem(programFolder);
    PageContext context{services, *this, *this, volumes_.get(), nullptr};
    context_ = &context;
    int code = kExitNoWindow;
    {
        CMainDlg sheet(context);
        sheet.Attach(*this);
        code =
            scour::Run(commandLine != nullptr ? commandLine : L"", sheet, *this, CreateWizardPages);
        sheet_ = nullptr;
    }
    context_ = nullptr;
    if (scriptTimer_ != 0) {
        KillTimer(nullptr, scriptTimer_);
        scriptTimer_ = 0;
    }
    return code;
}

bool WizardApp::IsAdministrator() {
    return platform::IsAdministrator();
}

void WizardApp::ShowStartupError(const std::wstring& text) {
    const std::wstring& caption = LoadText(IDS_WIZARD_CAPTION);
    if (script_) {
        // A scripted run shows no box; the test reads the line instead, with
        // line breaks written as \n as for every other box.
        std::wstring line = L"box: " + caption + L": ";
        for (wchar_t c : text) {
            line += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
        }
        WriteStderr(line);
        return;
    }
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
}

void WizardApp::ShowAbout(HWND owner) {
    CAboutDlg about(GetFileVersionText());
    RunModalDialog(instance_, owner, about, &modal_);
}

void WizardApp::ShowAboutAlone() {
    ShowAbout(nullptr);
}

}  // namespace scour::win32
