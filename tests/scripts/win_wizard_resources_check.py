#!/usr/bin/env python3
"""Checks the generated resources of scourline-wizard.exe, extracted raw by
wrestool: every dialog reads as a DIALOGEX whose controls lie inside it and
overlap no other (group boxes enclose theirs), the pages are child controls
as the sheet needs them, password fields hide what is typed, every text
of src/base/strings.h is in the string table, the manifest asks for
administrator rights and the version is the project's.

usage: win_wizard_resources_check.py FOLDER VERSION STRINGS_H
FOLDER holds dialog-ID.bin, strings-BLOCK.bin, version.bin and manifest.xml.
Prints ok/not ok lines; exits 1 on any failure."""
import os
import re
import struct
import sys

folder, version, strings_h = sys.argv[1:4]
failed = 0


def check(what, good, detail=""):
    global failed
    print(f"ok - {what}" if good else f"not ok - {what}")
    if not good:
        failed += 1
        if detail:
            print(f"    {detail}")


def parse_dialog(data):
    at = 0

    def take(fmt):
        nonlocal at
        v = struct.unpack_from(fmt, data, at)
        at += struct.calcsize(fmt)
        return v if len(v) > 1 else v[0]

    def text():
        nonlocal at
        end = at
        while data[end : end + 2] != b"\0\0":
            end += 2
        s, at = data[at:end].decode("utf-16le"), end + 2
        return s

    def sz_or_ord():
        first = struct.unpack_from("<H", data, at)[0]
        if first == 0xFFFF:
            return take("<HH")[1]
        if first == 0:
            take("<H")
            return ""
        return text()

    ver, sig = take("<HH")
    assert ver == 1 and sig == 0xFFFF, "not a DIALOGEX"
    _, _, style, count, x, y, cx, cy = take("<IIIHhhhh")
    sz_or_ord(), sz_or_ord()  # menu, class
    d = {"style": style, "size": (cx, cy), "caption": text(), "controls": []}
    if style & 0x40:  # DS_SETFONT: points, weight, italic, charset, face
        take("<HHBB")
        text()
    for _ in range(count):
        at = (at + 3) & ~3
        _, _, cstyle, cx0, cy0, ccx, ccy, cid = take("<IIIhhhhi")
        cls, _ = sz_or_ord(), sz_or_ord()
        extra = take("<H")  # read before the sum: "at += take()" would lose take's step
        at += extra
        # A drop-down list's height is that of its open list, which may cover others.
        if cls in (0x85, "ComboBox", "COMBOBOX", "combobox"):
            ccy = min(ccy, 14)
        d["controls"].append({"id": cid, "style": cstyle, "rect": (cx0, cy0, ccx, ccy), "class": cls})
    return d


def is_groupbox(c):
    return c["class"] in (0x80, "Button", "BUTTON", "button") and c["style"] & 0xF == 7


dialogs = {}
for name in sorted(os.listdir(folder)):
    m = re.fullmatch(r"dialog-(\d+)\.bin", name)
    if m:
        try:
            dialogs[int(m.group(1))] = parse_dialog(open(os.path.join(folder, name), "rb").read())
        except (AssertionError, struct.error, IndexError) as e:
            check(f"dialog {m.group(1)} reads as a DIALOGEX", False, str(e))
check("the About box, the two outer pages, eight inner pages and the password box",
      {100, 203, 204, 205, 206, 207, 208, 209, 210, 211, 213, 214} <= set(dialogs), sorted(dialogs))

for dialog_id, d in sorted(dialogs.items()):
    cx, cy = d["size"]
    controls = [c for c in d["controls"] if c["style"] & 0x10000000]  # WS_VISIBLE
    outside = [c["id"] for c in d["controls"]
               if c["rect"][0] < 0 or c["rect"][1] < 0 or c["rect"][0] + c["rect"][2] > cx or c["rect"][1] + c["rect"][3] > cy]
    check(f"dialog {dialog_id}: every control inside its {cx} x {cy}", not outside, f"outside: {outside}")
    overlaps = []
    for i, a in enumerate(controls):
        for b in controls[i + 1 :]:
            (ax, ay, aw, ah), (bx, by, bw, bh) = a["rect"], b["rect"]
            if ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah and not (is_groupbox(a) or is_groupbox(b)):
                overlaps.append((a["id"], b["id"]))
    check(f"dialog {dialog_id}: no two visible controls overlap", not overlaps, f"overlapping: {overlaps}")
    if 205 <= dialog_id <= 213:
        check(f"dialog {dialog_id}: a child control, as the sheet's pages must be",
              d["style"] & 0x40000000 and d["style"] & 0x400, f"{d['style']:#x}")

# ES_PASSWORD on the password fields of the log page and the password box.
for dialog_id, cid in ((213, 1035), (214, 1046)):
    c = next((c for c in dialogs.get(dialog_id, {}).get("controls", []) if c["id"] == cid), None)
    check(f"dialog {dialog_id} field {cid} hides the password", c is not None and c["style"] & 0x20)

strings = {}
for name in os.listdir(folder):
    if name.startswith("strings-"):
        block, data, at = int(name[8:-4]), open(os.path.join(folder, name), "rb").read(), 0
        for i in range(16):
            n = struct.unpack_from("<H", data, at)[0]
            if n:
                strings[(block - 1) * 16 + i] = data[at + 2 : at + 2 + 2 * n].decode("utf-16le")
            at += 2 + 2 * n
wanted = {int(v): k for k, v in re.findall(r"\b(IDS_\w+)\s*=\s*(\d+)", open(strings_h).read())}
missing = [wanted[i] for i in sorted(wanted) if not strings.get(i)]
check(f"the string table holds all {len(wanted)} texts of strings.h", wanted and not missing, f"missing {missing}")

raw = open(os.path.join(folder, "version.bin"), "rb").read()
key = raw.find("FileVersion\0".encode("utf-16le"))
value = ""
if key >= 0:
    at = (key + 24 + 3) & ~3
    value = raw[at : raw.find(b"\0\0", at) + 1].decode("utf-16le", "replace").rstrip("\0")
check("version: FileVersion " + version, value == version, repr(value))
manifest = open(os.path.join(folder, "manifest.xml"), encoding="utf-8").read()
check("manifest: administrator rights", 'level="requireAdministrator"' in manifest)
check("manifest: common controls 6", 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in manifest)
sys.exit(1 if failed else 0)
