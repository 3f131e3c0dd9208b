#!/usr/bin/env python3
"""Usage: extract-boot-log.py LOGFILE OUTDIR: the boot environment's report from
a serial log, each received file to OUTDIR/files/ at its path in the booted
system, the screen to OUTDIR/screen.txt; 1 on a missing, cut or inconsistent report."""

import base64
import pathlib
import sys


def parse(text):
    """Returns ({path: bytes}, screen text); ValueError when inconsistent."""
    lines = [line.rstrip("\r") for line in text.split("\n")]
    first = lines.index("SCOURLINE-BOOTENV-START")
    lines = lines[first + 1 : lines.index("SCOURLINE-BOOTENV-END", first)]
    files, screen, i = {}, None, 0

    def block(end_line):  # the base64 lines up to end_line, decoded
        nonlocal i
        end = lines.index(end_line, i)
        data, i = base64.b64decode("".join(lines[i:end]), validate=True), end + 1
        return data

    while i < len(lines):
        head = lines[i].split(" ")
        i += 1
        if head[0] == "BEGIN-FILE" and len(head) == 3:
            files[head[1]] = block(f"END-FILE {head[1]}")
            if len(files[head[1]]) != int(head[2]):
                raise ValueError(f"{head[1]}: {len(files[head[1]])} bytes, announced {head[2]}")
        elif head[0] == "BEGIN-SCREEN" and len(head) == 3:
            rows, cols = int(head[1]), int(head[2])
            data = block("END-SCREEN")
            if len(data) != rows * cols:
                raise ValueError(f"screen: {len(data)} bytes for {rows}x{cols}")
            # The VGA text screen holds code page 437 characters.
            screen = "\n".join(data[r * cols : (r + 1) * cols].decode("cp437").rstrip(" \0") for r in range(rows))
        else:
            raise ValueError(f"unexpected line in report: {lines[i - 1]!r}")
    if screen is None:
        raise ValueError("no screen in report")
    return files, screen


def main(argv):
    if len(argv) != 3:
        print(__doc__.split(": the")[0], file=sys.stderr)
        return 2
    try:
        files, screen = parse(pathlib.Path(argv[1]).read_bytes().decode("latin-1"))
    except (OSError, ValueError) as e:  # binascii.Error is a ValueError
        print(f"extract-boot-log: {argv[1]}: {e}", file=sys.stderr)
        return 1
    out = pathlib.Path(argv[2])
    for path, data in files.items():
        dest = out / "files" / path.lstrip("/")
        dest.parent.mkdir(parents=True, exist_ok=True)
        dest.write_bytes(data)
    (out / "screen.txt").write_text(screen + "\n", encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
