// Writes the wizard's resource script from the one description of its dialogs
// and its string table, so that windres compiles exactly what both frames use.
// Built and run on the build machine, also in a cross build.
//
//   make_resources OUT.rc OUT.manifest ART_FOLDER VERSION
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/resource_ids.h"
#include "base/strings.h"

namespace {

using scour::ControlDesc;
using scour::ControlKind;
using scour::DialogDesc;

// A wide text as an rc string literal: ASCII as it stands, everything else as
// a four-digit escape, quotes doubled as the resource compiler wants them.
std::string Literal(const std::wstring& text) {
    std::string out = "L\"";
    for (wchar_t c : text) {
        if (c == L'"') {
            out += "\"\"";
        } else if (c == L'\\') {
            out += "\\\\";
        } else if (c == L'\n') {
            out += "\\n";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%04x", static_cast<unsigned>(c) & 0xffffu);
            out += buf;
        }
    }
    return out + "\"";
}

// Forward slashes: windres reads backslashes in file names as escapes.
std::string FileName(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        out += c == '\\' ? '/' : c;
    }
    return out + "\"";
}

bool IsPage(const DialogDesc& d) {
    return d.id != scour::IDD_ABOUT && d.id != scour::IDD_PASSWORD;
}

std::string ControlClassAndStyle(const ControlDesc& c) {
    std::string cls, style;
    switch (c.kind) {
        case ControlKind::Static:
            cls = "\"Static\"";
            style = (c.style & scour::kCentered) ? "SS_CENTER" : "SS_LEFT";
            if (c.style & scour::kNoPrefix) {
                style += " | SS_NOPREFIX";
            }
            break;
        case ControlKind::Radio:
            cls = "\"Button\"";
            style = "BS_AUTORADIOBUTTON";
            break;
        case ControlKind::CheckBox:
            cls = "\"Button\"";
            style = "BS_AUTOCHECKBOX";
            break;
        case ControlKind::Edit:
            cls = "\"Edit\"";
            style = "ES_LEFT";
            if (c.style & scour::kAutoHScroll) {
                style += " | ES_AUTOHSCROLL";
            }
            if (c.style & scour::kPassword) {
                style += " | ES_PASSWORD";
            }
            if (c.style & scour::kReadOnly) {
                style += " | ES_READONLY";
            }
            break;
        case ControlKind::PushButton:
            cls = "\"Button\"";
            style = "BS_PUSHBUTTON";
            break;
        case ControlKind::DefaultButton:
            cls = "\"Button\"";
            style = "BS_DEFPUSHBUTTON";
            break;
        case ControlKind::DropDownList:
            cls = "\"ComboBox\"";
            style = "CBS_DROPDOWNLIST";
            break;
        case ControlKind::ListView:
            cls = "\"SysListView32\"";
            style = "LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER";
            break;
        case ControlKind::Progress:
            cls = "\"msctls_progress32\"";
            style = "0";
            break;
    }
    // A drop-down list always scrolls: the catalogue may be longer than its box.
    if ((c.style & scour::kVScroll) || c.kind == ControlKind::DropDownList) {
        style += " | WS_VSCROLL";
    }
    if (c.style & scour::kBorder) {
        style += " | WS_BORDER";
    }
    if (c.style & scour::kTabStop) {
        style += " | WS_TABSTOP";
    }
    if (c.style & scour::kGroup) {
        style += " | WS_GROUP";
    }
    if (c.style & scour::kHidden) {
        style += " | NOT WS_VISIBLE";
    }
    return cls + ", " + style;
}

void WriteDialog(std::ostream& rc, const DialogDesc& d) {
    const bool page = IsPage(d);
    const bool shellFont = std::wstring(d.fontFace) == L"MS Shell Dlg";
    rc << d.id << " DIALOGEX 0, 0, " << d.cx << ", " << d.cy << "\n";
    if (page) {
        // Property-sheet pages: children of the sheet, disabled until shown.
        rc << "STYLE DS_SHELLFONT | DS_CONTROL | WS_CHILD | WS_DISABLED | WS_CAPTION\n";
    } else {
        rc << "STYLE " << (shellFont ? "DS_SHELLFONT" : "DS_SETFONT")
           << " | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU\n";
    }
    rc << "CAPTION " << Literal(d.caption) << "\n";
    rc << "FONT " << d.fontPoints << ", " << Literal(d.fontFace) << ", 400, 0, 0x1\n";
    rc << "BEGIN\n";
    for (const auto& c : d.controls) {
        rc << "    CONTROL " << Literal(c.text) << ", " << c.id << ", " << ControlClassAndStyle(c)
           << ", " << c.x << ", " << c.y << ", " << c.cx << ", " << c.cy << "\n";
    }
    rc << "END\n\n";
}

// "2.69" -> "2, 69, 0, 0".
std::string VersionNumbers(const std::string& version) {
    std::vector<std::string> parts;
    std::stringstream in(version);
    for (std::string part; std::getline(in, part, '.');) {
        parts.push_back(part.empty() ? "0" : part);
    }
    while (parts.size() < 4) {
        parts.push_back("0");
    }
    return parts[0] + ", " + parts[1] + ", " + parts[2] + ", " + parts[3];
}

std::string Manifest(const std::string& version) {
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="Valdane.Scourline.ConfigurationWizard" version=")" +
           version + R"(.0.0" processorArchitecture="amd64"/>
  <description>Scourline Configuration Wizard</description>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
                        processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
</assembly>
)";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: make_resources OUT.rc OUT.manifest ART_FOLDER VERSION\n";
        return 2;
    }
    const std::string rcPath = argv[1], manifestPath = argv[2], art = argv[3], version = argv[4];

    std::ostringstream rc;
    rc << "// Generated from the dialog descriptions and the string table: do not edit.\n"
       << "#include <windows.h>\n#include <commctrl.h>\n\n"
       << "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n\n";
    for (const auto& d : scour::AllDialogs()) {
        WriteDialog(rc, d);
    }

    rc << "STRINGTABLE\nBEGIN\n";
    int strings = 0;
    for (int id = 1; id < 65536; ++id) {
        const std::wstring& text = scour::LoadText(id);
        if (!text.empty()) {
            rc << "    " << id << ", " << Literal(text) << "\n";
            ++strings;
        }
    }
    rc << "END\n\n";

    rc << scour::IDB_WATERMARK << " BITMAP " << FileName(art + "/watermark.bmp") << "\n"
       << scour::IDB_HEADER << " BITMAP " << FileName(art + "/header.bmp") << "\n"
       << scour::IDI_PROGRAM << " ICON " << FileName(art + "/scourline.ico") << "\n"
       << "1 24 " << FileName(manifestPath) << "\n\n";

    const std::string numbers = VersionNumbers(version);
    rc << "1 VERSIONINFO\nFILEVERSION " << numbers << "\nPRODUCTVERSION " << numbers
       << "\nFILEOS VOS_NT_WINDOWS32\nFILETYPE VFT_APP\nBEGIN\n"
       << "    BLOCK \"StringFileInfo\"\n    BEGIN\n        BLOCK \"040904B0\"\n        BEGIN\n"
       << "            VALUE \"CompanyName\", \"Valdane\"\n"
       << "            VALUE \"FileDescription\", \"Scourline Configuration Wizard\"\n"
       << "            VALUE \"FileVersion\", \"" << version << "\"\n"
       << "            VALUE \"InternalName\", \"scourline-wizard\"\n"
       << "            VALUE \"OriginalFilename\", \"scourline-wizard.exe\"\n"
       << "            VALUE \"ProductName\", \"Scourline\"\n"
       << "            VALUE \"ProductVersion\", \"" << version << "\"\n"
       << "        END\n    END\n"
       << "    BLOCK \"VarFileInfo\"\n    BEGIN\n        VALUE \"Translation\", 0x409, 1200\n"
       << "    END\nEND\n";

    if (strings == 0) {
        std::cerr << "make_resources: the string table is empty\n";
        return 1;
    }
    std::ofstream(rcPath, std::ios::binary) << rc.str();
    std::ofstream(manifestPath, std::ios::binary) << Manifest(version);
    return 0;
}
