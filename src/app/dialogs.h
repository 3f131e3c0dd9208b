// The one description of every dialog the wizard shows: each control's id,
// kind, text, rectangle in dialog units and style. The Windows resource script
// and the Qt frame are both built from it, so no id or text is typed twice.
#pragma once

#include <vector>

namespace scour {

enum class ControlKind {
    Static,    // a label or text block
    Radio,     // automatic radio button
    CheckBox,  // automatic check box
    Edit,      // one-line edit box
    PushButton,
    DefaultButton,  // the default push button
    DropDownList,   // combo box without edit field
    ListView,       // report view
    Progress,
};

enum ControlStyle : unsigned {
    kStyleNone = 0,
    kHidden = 1u << 0,
    kPassword = 1u << 1,  // edit box whose characters are masked
    kReadOnly = 1u << 2,
    kCentered = 1u << 3,  // static text, centred
    kGroup = 1u << 4,     // starts a group (radio buttons)
    kTabStop = 1u << 5,
    kBorder = 1u << 6,
    kAutoHScroll = 1u << 7,
    kVScroll = 1u << 8,
    kNoPrefix = 1u << 9,    // static text: '&' is not a mnemonic
    kWordWrap = 1u << 10,   // static text: left-aligned, word-wrapped
    kTitleFont = 1u << 11,  // the exterior pages' bold title
};

struct ControlDesc {
    int id;  // IDC_STATIC (-1) for controls the code never reaches
    ControlKind kind;
    const wchar_t* text;
    int x, y, cx, cy;  // dialog units
    unsigned style;
};

struct DialogDesc {
    int id;
    const wchar_t* caption;
    int cx, cy;  // dialog units
    const wchar_t* fontFace;
    int fontPoints;
    std::vector<ControlDesc> controls;
};

const std::vector<DialogDesc>& AllDialogs();
// Null for an unknown id.
const DialogDesc* FindDialog(int id);
// Null when the dialog has no control of that id.
const ControlDesc* FindControl(const DialogDesc& dialog, int id);

}  // namespace scour
