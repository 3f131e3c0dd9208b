#!/usr/bin/env python3
"""Unpacks the report of the sample boot environment from a serial log.

Usage: extract-boot-log.py LOGFILE OUTDIR

Writes every received file to OUTDIR/files/ at its path inside the booted
system, the list of them with sizes to OUTDIR/files.txt, and the screen the
boot loader left to OUTDIR/screen.txt (one line per row, trailing blanks
removed). Exits 1 when the report is missing, cut short or inconsistent.
"""

import base64
import binascii
import pathlib
import sys


class ReportError(Exception):
    pass


def parse(text):
    """Returns ({path: bytes}, screen text)."""
    lines = [line.rstrip("\r") for line in text.split("\n")]
    try:
        first = lines.index("SCOURLINE-BOOTENV-START")
        last = lines.index("SCOURLINE-BOOTENV-END", first)
    except ValueError:
        raise ReportError("no start or end marker") from None
    lines = lines[first + 1 : last]
    files, screen, i = {}, None, 0

    def block(end_line):
        nonlocal i
        start = i
        while i < len(lines) and lines[i] != end_line:
            i += 1
        if i == len(lines):
            raise ReportError(f"missing {end_line!r}")
        i += 1
        try:
            return base64.b64decode("".join(lines[start : i - 1]), validate=True)
        except binascii.Error as e:
            raise ReportError(f"bad base64 before {end_line!r}: {e}") from None

    while i < len(lines):
        head = lines[i].split(" ")
        i += 1
        if head[0] == "BEGIN-FILE" and len(head) == 3:
            data = block(f"END-FILE {head[1]}")
            if len(data) != int(head[2]):
                raise ReportError(f"{head[1]}: {len(data)} bytes, announced {head[2]}")
            files[head[1]] = data
        elif head[0] == "BEGIN-SCREEN" and len(head) == 3:
            rows, cols = int(head[1]), int(head[2])
            data = block("END-SCREEN")
            if len(data) != rows * cols:
                raise ReportError(f"screen: {len(data)} bytes for {rows}x{cols}")
            # The VGA text screen holds code page 437 characters.
            text_rows = [data[r * cols : (r + 1) * cols].decode("cp437").rstrip(" \0") for r in range(rows)]
            screen = "\n".join(text_rows).rstrip("\n") + "\n"
        else:
            raise ReportError(f"unexpected line in report: {lines[i - 1]!r}")
    if screen is None:
        raise ReportError("no screen in report")
    return files, screen


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    log, outdir = pathlib.Path(argv[1]), pathlib.Path(argv[2])
    try:
        files, screen = parse(log.read_bytes().decode("latin-1"))
        for path in files:
            rel = path.lstrip("/")
            if not rel or ".." in pathlib.PurePosixPath(rel).parts:
                raise ReportError(f"refusing path {path!r}")
    except (OSError, ReportError, ValueError) as e:
        print(f"extract-boot-log: {log}: {e}", file=sys.stderr)
        return 1
    listing = []
    for path, data in sorted(files.items()):
        dest = outdir / "files" / path.lstrip("/")
        dest.parent.mkdir(parents=True, exist_ok=True)
        dest.write_bytes(data)
        listing.append(f"{path} {len(data)}\n")
    (outdir / "files").mkdir(parents=True, exist_ok=True)
    (outdir / "files.txt").write_text("".join(listing))
    (outdir / "screen.txt").write_text(screen, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
