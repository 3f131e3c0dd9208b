#!/usr/bin/env python3
"""Checks the generated resources of scourline-wizard.exe, extracted raw by
wrestool: the pages are child dialogs as the sheet needs them, password
fields hide what is typed, every text of src/base/strings.h is in the string
table, the manifest asks for administrator rights, the version is the project's.

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
    style, count = take("<IIIHhhhh")[2:4]
    sz_or_ord(), sz_or_ord(), text()  # menu, class, caption
    d = {"style": style, "controls": []}
    if style & 0x40:  # DS_SETFONT: points, weight, italic, charset, face
        take("<HHBB")
        text()
    for _ in range(count):
        at = (at + 3) & ~3
        _, _, cstyle, _, _, _, _, cid = take("<IIIhhhhi")
        sz_or_ord(), sz_or_ord()  # class, title
        extra = take("<H")  # read before the sum: "at += take()" would lose take's step
        at += extra
        d["controls"].append({"id": cid, "style": cstyle})
    return d


dialogs = {}
for name in sorted(os.listdir(folder)):
    m = re.fullmatch(r"dialog-(\d+)\.bin", name)
    if m:
        try:
            dialogs[int(m.group(1))] = parse_dialog(open(os.path.join(folder, name), "rb").read())
        except (AssertionError, struct.error, IndexError) as e:
            check(f"dialog {m.group(1)} reads as a DIALOGEX", False, str(e))

for dialog_id, d in sorted(dialogs.items()):
    if 205 <= dialog_id <= 213:  # WS_CHILD, DS_CONTROL
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
sys.exit(1 if failed else 0)
