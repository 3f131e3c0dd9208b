#!/usr/bin/env python3
"""Checks the help beside the program against the topics it opens.

  help_check.py pages HELP_DIR SOURCE_DIR
      every topic src/app/help.cpp names is there; links lead to files and
      anchors under HELP_DIR and nowhere else; the contents link every topic
      and every topic links back.
  help_check.py chm LISTING HELP_SOURCE_DIR SOURCE_DIR
      LISTING is `chmls list` of bootwiz.chm: every topic, page, style sheet
      and entry of the contents and index files is inside it.

Prints one line per failed check and exits 1 when any failed.
"""
import html.parser
import os
import posixpath
import re
import sys
import urllib.parse

CONTENTS = "index.html"
failures = []


def fail(where, what):
    failures.append(f"{where}: {what}")


def topics(source_dir):
    with open(os.path.join(source_dir, "src/app/help.cpp"), encoding="utf-8") as f:
        return sorted(set(re.findall(r'L"(HTML_Help_e/[^"]+)"', f.read())))


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links, self.anchors = [], set()

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if name in ("href", "src") and value is not None:
                self.links.append((value, self.getpos()[0]))
            if name == "id" or (name == "name" and tag == "a"):
                self.anchors.add(value)


def check_pages(help_dir, source_dir):
    wanted = topics(source_dir)
    files = {
        posixpath.relpath(os.path.join(base, n), help_dir).replace(os.sep, "/")
        for base, _, names in os.walk(help_dir)
        for n in names
    }
    for topic in wanted:
        if topic not in files:
            fail(topic, "topic file is missing")
    parsed = {}
    for rel in sorted(f for f in files if f.endswith((".htm", ".html"))):
        with open(os.path.join(help_dir, rel), encoding="utf-8", errors="replace") as f:
            text = f.read()
        if re.search(r"(?i)https?:|ftp:|//[a-z0-9.-]+\.[a-z]{2,}", text):
            fail(rel, "names a remote address")
        parsed[rel] = Page()
        parsed[rel].feed(text)
    for rel, p in parsed.items():
        targets = set()
        for value, line in p.links:
            path, _, fragment = value.partition("#")
            here = posixpath.dirname(rel)
            target = posixpath.normpath(posixpath.join(here, urllib.parse.unquote(path))) if path else rel
            if re.match(r"^[A-Za-z][A-Za-z0-9+.-]*:|/", value) or target.startswith("../"):
                fail(rel, f"line {line}: {value!r} leaves the help folder")
            elif target not in files:
                fail(rel, f"line {line}: {value!r} names a missing file")
            elif fragment and (target not in parsed or fragment not in parsed[target].anchors):
                fail(rel, f"line {line}: {value!r} names a missing anchor")
            targets.add(target)
        if rel in wanted and CONTENTS not in targets:
            fail(rel, "does not link back to the contents")
        if rel == CONTENTS:
            for topic in (t for t in wanted if t not in targets):
                fail(CONTENTS, f"does not link {topic}")


def check_chm(listing, help_source, source_dir):
    with open(listing, encoding="utf-8", errors="replace") as f:
        names = set(re.findall(r"(?m)^\s*\d+\s+\d+\s+\d+\s+(/.*?)\s*$", f.read()))
    wanted = topics(source_dir) + [CONTENTS]
    for base, _, files in os.walk(help_source):
        for name in sorted(n for n in files if n.endswith((".htm", ".html", ".css", ".png", ".gif"))):
            wanted.append(os.path.relpath(os.path.join(base, name), help_source).replace(os.sep, "/"))
    for project in ("bootwiz.hhc", "bootwiz.hhk"):
        with open(os.path.join(help_source, project), encoding="utf-8") as f:
            wanted += [v.partition("#")[0] for v in re.findall(r'name="Local"\s+value="([^"]+)"', f.read(), re.I)]
    for path in dict.fromkeys(wanted):
        if "/" + path not in names:
            fail("bootwiz.chm", f"{path} is not inside")


def main(argv):
    if len(argv) == 4 and argv[1] == "pages":
        check_pages(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "chm":
        check_chm(argv[2], argv[3], argv[4])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for line in failures:
        print(line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
