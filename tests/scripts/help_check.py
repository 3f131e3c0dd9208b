#!/usr/bin/env python3
"""usage: help_check.py HELP_DIR SOURCE_DIR

Every topic src/app/help.cpp names is in HELP_DIR; links lead to files and
anchors under HELP_DIR and nowhere else; the contents link every topic and
every topic links back. Prints one line per fault; exits 1 on any."""
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


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    check_pages(argv[1], argv[2])
    for line in failures:
        print(line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
