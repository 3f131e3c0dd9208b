#!/usr/bin/env python3
"""Reads the resources that wrestool extracted from scourline-wizard.exe and
checks them against what the system expects of its dialogs, strings, bitmaps,
icon, manifest and version. Prints ok/not ok lines; exits 1 on any failure.

usage: win_wizard_resources_check.py FOLDER VERSION
FOLDER holds dialog-ID.bin, strings-BLOCK.bin, version.bin, manifest.xml as
raw resources."""
import os
import struct
import sys

folder, version = sys.argv[1], sys.argv[2]
failed = 0


def check(what, good, detail=""):
    global failed
    if good:
        print(f"ok - {what}")
    else:
        failed += 1
        print(f"not ok - {what}")
        if detail:
            print(f"    {detail}")


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def word(self):
        v = struct.unpack_from("<H", self.data, self.at)[0]
        self.at += 2
        return v

    def short(self):
        v = struct.unpack_from("<h", self.data, self.at)[0]
        self.at += 2
        return v

    def dword(self):
        v = struct.unpack_from("<I", self.data, self.at)[0]
        self.at += 4
        return v

    def byte(self):
        v = self.data[self.at]
        self.at += 1
        return v

    def text(self):
        out = []
        while True:
            c = self.word()
            if c == 0:
                return "".join(out)
            out.append(chr(c))

    def sz_or_ord(self):
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0:
            self.at += 2
            return ""
        if first == 0xFFFF:
            self.at += 2
            return self.word()
        return self.text()

    def align(self):
        self.at = (self.at + 3) & ~3


def parse_dialog(data):
    r = Reader(data)
    ver, sig = r.word(), r.word()
    assert ver == 1 and sig == 0xFFFF, "not a DIALOGEX"
    r.dword()  # help id
    r.dword()  # extended style
    style = r.dword()
    count = r.word()
    x, y, cx, cy = r.short(), r.short(), r.short(), r.short()
    r.sz_or_ord()  # menu
    r.sz_or_ord()  # class
    d = {"style": style, "rect": (x, y, cx, cy), "caption": r.text(), "controls": {}}
    if style & 0x40:  # DS_SETFONT
        d["points"] = r.word()
        r.word()  # weight
        r.byte()  # italic
        r.byte()  # charset
        d["font"] = r.text()
    for _ in range(count):
        r.align()
        r.dword()  # help id
        r.dword()  # extended style
        cstyle = r.dword()
        rect = (r.short(), r.short(), r.short(), r.short())
        cid = struct.unpack("<i", struct.pack("<I", r.dword()))[0]
        cls = r.sz_or_ord()
        title = r.sz_or_ord()
        extra = r.word()
        r.at += extra
        ctl = {"style": cstyle, "rect": rect, "class": cls, "text": title}
        if cid != -1:
            d["controls"][cid] = ctl
    return d


WS_CHILD, WS_POPUP, WS_VISIBLE, WS_GROUP = 0x40000000, 0x80000000, 0x10000000, 0x20000
DS_CONTROL, DS_SHELLFONT = 0x400, 0x48
BUTTON, EDIT, STATIC, COMBO = 0x80, 0x81, 0x82, 0x85

dialogs = {}
for dialog_id in (100, 203, 204, 205, 206, 207, 208, 209, 210, 211, 213, 214):
    path = os.path.join(folder, f"dialog-{dialog_id}.bin")
    if not os.path.exists(path) or os.path.getsize(path) == 0:
        check(f"dialog {dialog_id} is in the program", False)
        continue
    try:
        dialogs[dialog_id] = parse_dialog(open(path, "rb").read())
        check(f"dialog {dialog_id} is in the program", True)
    except (AssertionError, struct.error, IndexError) as e:
        check(f"dialog {dialog_id} reads as a DIALOGEX", False, str(e))

# Captions, sizes, fonts and window kinds.
expect = {
    100: ("About Configuration Wizard", 262, 166, "MS Sans Serif", False),
    203: ("Configuration Wizard", 317, 179, "MS Shell Dlg", True),
    204: ("Configuration Wizard", 317, 179, "MS Shell Dlg", True),
    214: ("Enter password", None, None, "MS Shell Dlg", False),
}
for page in (205, 206, 207, 208, 209, 210, 211, 213):
    expect[page] = ("", 317, 143, "MS Shell Dlg", True)
for dialog_id, (caption, cx, cy, font, page) in expect.items():
    d = dialogs.get(dialog_id)
    if d is None:
        continue
    good = d["caption"] == caption and d.get("font") == font and d.get("points") == 8
    good = good and (cx is None or d["rect"][2:] == (cx, cy))
    if page:
        good = good and d["style"] & WS_CHILD and d["style"] & DS_CONTROL
        good = good and (d["style"] & DS_SHELLFONT) == DS_SHELLFONT
    else:
        good = good and d["style"] & WS_POPUP
    check(f"dialog {dialog_id}: caption, size, font and kind", good,
          f"{d['caption']!r} {d['rect']} {d.get('font')} {d.get('points')} {d['style']:#x}")


def control(dialog_id, cid):
    return dialogs.get(dialog_id, {}).get("controls", {}).get(cid)


# (dialog, control, class, style bits that must be set, bits that must be clear, text or None)
controls = [
    (100, 1030, STATIC, 0x1, 0, None),                          # SS_CENTER
    (100, 1, BUTTON, 0x1, 0, "OK"),                             # BS_DEFPUSHBUTTON
    (203, 1000, STATIC, 0, 0, "Welcome to the Scourline Configuration Wizard"),
    (204, 1000, STATIC, 0, 0, "Completing the Scourline Configuration Wizard"),
    (205, 1002, BUTTON, 0x9 | WS_GROUP, 0, "Boot computer and start wiping automatically"),
    (205, 1003, BUTTON, 0x9, 0, "Start Scourline in interactive mode"),
    (205, 1004, BUTTON, 0x3, 0, "Let me select drives for wiping"),   # BS_AUTOCHECKBOX
    (205, 1052, BUTTON, 0x3, WS_VISIBLE, "Hardware compatibility test, no wiping allowed"),
    (206, 1006, COMBO, 0x3 | 0x200000, 0, None),                # CBS_DROPDOWNLIST, WS_VSCROLL
    (211, 1018, "SysListView32", 0x1 | 0x4 | 0x8 | 0x8000, 0, None),
    (211, 1022, "msctls_progress32", 0x800000, WS_VISIBLE, None),  # border, hidden
    (211, 1021, BUTTON, 0, 0, "Format and Create"),
    (213, 1035, EDIT, 0x20, 0, None),                           # ES_PASSWORD
    (214, 1047, EDIT, 0x800, 0, None),                          # ES_READONLY
    (214, 1046, EDIT, 0x20, 0, None),
    (214, 1, BUTTON, 0x1, 0, "OK"),
]
for dialog_id, cid, cls, on, off, text in controls:
    c = control(dialog_id, cid)
    if c is None:
        check(f"dialog {dialog_id} has control {cid}", False)
        continue
    # The class by its ordinal or, as windres writes it, by its name.
    names = {BUTTON: "button", EDIT: "edit", STATIC: "static", COMBO: "combobox"}
    want = names.get(cls, cls) if isinstance(cls, int) else cls
    got = names.get(c["class"], c["class"]) if isinstance(c["class"], int) else c["class"]
    cls_ok = str(got).lower() == str(want).lower()
    good = cls_ok and (c["style"] & on) == on and not (c["style"] & off)
    good = good and (text is None or c["text"] == text)
    check(f"dialog {dialog_id} control {cid}: class, style and text", good,
          f"{c['class']} {c['style']:#x} {c['text']!r}")
c = control(100, 1)
check("About: OK at 105, 145, 50 x 14", c is not None and c["rect"] == (105, 145, 50, 14))

# The string table, block by block.
strings = {}
for name in os.listdir(folder):
    if name.startswith("strings-"):
        block = int(name[8:-4])
        r = Reader(open(os.path.join(folder, name), "rb").read())
        for i in range(16):
            n = r.word()
            text = "".join(chr(r.word()) for _ in range(n))
            if n:
                strings[(block - 1) * 16 + i] = text
wanted = list(range(129, 143)) + list(range(144, 157)) + [167, 168] + list(range(170, 185))
missing = [i for i in wanted if i not in strings]
check("the string table holds every text the program loads", not missing, f"missing {missing}")
for sid, text in {
    144: "Scourline Configuration Wizard",
    145: "Critical Scourline components are missing.\nPlease reinstall the application.",
    150: "Please run Scourline Configuration Wizard as Administrator",
    129: "Start options",
    168: "Set logging options here",
}.items():
    check(f"string {sid}", strings.get(sid) == text, repr(strings.get(sid)))

# Version: FileVersion from the project, translation US English / Unicode.
raw = open(os.path.join(folder, "version.bin"), "rb").read()
key = raw.find("FileVersion\0".encode("utf-16le"))
value = ""
if key >= 0:
    r = Reader(raw)
    r.at = key + len("FileVersion\0") * 2
    r.align()
    value = r.text()
check("version: FileVersion " + version, value == version, repr(value))
at = raw.find("Translation\0".encode("utf-16le"))
tail = raw[at + 24:at + 32] if at >= 0 else b""
check("version: translation 0409/04B0", b"\x09\x04\xb0\x04" in tail, tail.hex())

manifest = open(os.path.join(folder, "manifest.xml"), encoding="utf-8").read()
check("manifest: administrator rights", 'level="requireAdministrator"' in manifest)
check("manifest: common controls 6",
      'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in manifest)
sys.exit(1 if failed else 0)
