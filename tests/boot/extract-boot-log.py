#!/usr/bin/env python3
"""Unpacks the report of the sample boot environment from a serial log.

Usage: extract-boot-log.py LOGFILE OUTDIR

Writes every received file under OUTDIR/files/ at its path inside the booted
system (OUTDIR/files/wipe_config, OUTDIR/files/tmp/scheme/...), the list of
them with sizes to OUTDIR/files.txt, and the screen the boot loader left to
OUTDIR/screen.txt (one line per screen row, trailing blanks removed).
Exits 1 when the report is missing, cut short or inconsistent.
"""

import base64
import binascii
import pathlib
import sys


class ReportError(Exception):
    pass


def report_lines(text):
    """The lines between the start and end markers."""
    lines = [line.rstrip("\r") for line in text.split("\n")]
    try:
        first = lines.index("SCOURLINE-BOOTENV-START")
    except ValueError:
        raise ReportError("no SCOURLINE-BOOTENV-START marker") from None
    try:
        last = lines.index("SCOURLINE-BOOTENV-END", first)
    except ValueError:
        raise ReportError("no SCOURLINE-BOOTENV-END marker") from None
    return lines[first + 1 : last]


def take_block(lines, i, end_line):
    """Decodes the base64 lines from lines[i] up to end_line; returns (bytes, next index)."""
    body = []
    while i < len(lines) and lines[i] != end_line:
        body.append(lines[i])
        i += 1
    if i == len(lines):
        raise ReportError(f"missing {end_line!r}")
    try:
        return base64.b64decode("".join(body), validate=True), i + 1
    except binascii.Error as e:
        raise ReportError(f"bad base64 before {end_line!r}: {e}") from None


def parse(text):
    """Returns ({path: bytes}, screen rows as str)."""
    lines = report_lines(text)
    files = {}
    screen = None
    i = 0
    while i < len(lines):
        head = lines[i].split(" ")
        if head[0] == "BEGIN-FILE" and len(head) == 3:
            path, size = head[1], int(head[2])
            data, i = take_block(lines, i + 1, f"END-FILE {path}")
            if len(data) != size:
                raise ReportError(f"{path}: {len(data)} bytes, announced {size}")
            files[path] = data
        elif head[0] == "BEGIN-SCREEN" and len(head) == 3:
            rows, cols = int(head[1]), int(head[2])
            data, i = take_block(lines, i + 1, "END-SCREEN")
            if len(data) != rows * cols:
                raise ReportError(f"screen: {len(data)} bytes for {rows}x{cols}")
            # The VGA text screen holds code page 437 characters.
            text_rows = [data[r * cols : (r + 1) * cols].decode("cp437") for r in range(rows)]
            screen = "\n".join(row.rstrip(" \0") for row in text_rows).rstrip("\n") + "\n"
        else:
            raise ReportError(f"unexpected line in report: {lines[i]!r}")
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
    except (OSError, ReportError, ValueError) as e:
        print(f"extract-boot-log: {log}: {e}", file=sys.stderr)
        return 1
    root = outdir / "files"
    root.mkdir(parents=True, exist_ok=True)
    listing = []
    for path, data in sorted(files.items()):
        rel = path.lstrip("/")
        if not rel or ".." in pathlib.PurePosixPath(rel).parts:
            print(f"extract-boot-log: refusing path {path!r}", file=sys.stderr)
            return 1
        dest = root / rel
        dest.parent.mkdir(parents=True, exist_ok=True)
        dest.write_bytes(data)
        listing.append(f"{path} {len(data)}\n")
    (outdir / "files.txt").write_text("".join(listing))
    (outdir / "screen.txt").write_text(screen, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
