#!/usr/bin/env python3
"""Unpacks the report of the sample boot environment from a serial log.

Usage: extract-boot-log.py LOGFILE OUTDIR

Writes every received file to OUTDIR/files/ at its path inside the booted
system, the list of them with sizes to OUTDIR/files.txt, and the screen the
boot loader left to OUTDIR/screen.txt (one line per row, trailing blanks
removed). Exits 1 when the report is missing, cut short or inconsistent.
"""

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
            rel = head[1].lstrip("/")
            if not rel or ".." in pathlib.PurePosixPath(rel).parts:
                raise ValueError(f"refusing path {head[1]!r}")
        elif head[0] == "BEGIN-SCREEN" and len(head) == 3:
            rows, cols = int(head[1]), int(head[2])
            data = block("END-SCREEN")
            if len(data) != rows * cols:
                raise ValueError(f"screen: {len(data)} bytes for {rows}x{cols}")
            # The VGA text screen holds code page 437 characters.
            text_rows = [data[r * cols : (r + 1) * cols].decode("cp437").rstrip(" \0") for r in range(rows)]
            screen = "\n".join(text_rows).rstrip("\n") + "\n"
        else:
            raise ValueError(f"unexpected line in report: {lines[i - 1]!r}")
    if screen is None:
        raise ValueError("no screen in report")
    return files, screen


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    log, outdir = pathlib.Path(argv[1]), pathlib.Path(argv[2])
    try:
        files, screen = parse(log.read_bytes().decode("latin-1"))
    except (OSError, ValueError) as e:  # binascii.Error is a ValueError
        print(f"extract-boot-log: {log}: {e}", file=sys.stderr)
        return 1
    (outdir / "files").mkdir(parents=True, exist_ok=True)
    for path, data in files.items():
        dest = outdir / "files" / path.lstrip("/")
        dest.parent.mkdir(parents=True, exist_ok=True)
        dest.write_bytes(data)
    (outdir / "files.txt").write_text("".join(f"{p} {len(d)}\n" for p, d in sorted(files.items())))
    (outdir / "screen.txt").write_text(screen, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
