#!/usr/bin/env python3
"""Checks the help pages and the compiled help file against the program.

  help_check.py pages HELP_DIR SOURCE_DIR
      every topic the program's sources name is there; links lead to files
      and anchors under HELP_DIR and nowhere else; the contents link every
      topic and every topic links back; every quoted control or message text
      (class ctl or msg) is one the program really shows.
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
VOID = {"area", "base", "br", "col", "hr", "img", "input", "link", "meta", "param"}
failures = []


def fail(where, what):
    failures.append(f"{where}: {what}")


def source_texts(source_dir):
    """Every string literal of the program (adjacent literals joined), unescaped."""
    literal = r'(?:u8|L|u|U)?"(?:[^"\\\n]|\\.)*"'
    run, one = re.compile(literal + r"(?:\s*" + literal + r")*"), re.compile(literal)
    unescape = re.compile(r"\\(u[0-9a-fA-F]{4}|U[0-9a-fA-F]{8}|.)")

    def repl(m):
        s = m.group(1)
        if s[0] in "uU" and len(s) > 1:
            return chr(int(s[1:], 16))
        return {"n": "\n", "t": "\t", "r": "\r"}.get(s, s)

    out = set()
    for base, _, files in os.walk(os.path.join(source_dir, "src")):
        for name in (n for n in files if n.endswith((".cpp", ".h"))):
            with open(os.path.join(base, name), encoding="utf-8", errors="replace") as f:
                for m in run.finditer(f.read()):
                    parts = [p[p.index('"') + 1 : -1] for p in one.findall(m.group(0))]
                    out.add(unescape.sub(repl, "".join(parts)))
    return out


def topics(texts):
    return sorted(t for t in texts if t.startswith("HTML_Help_e/"))


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links, self.anchors, self.quoted = [], set(), []
        self.open, self.captures = [], []  # captures: [depth, text] of ctl/msg elements

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if name in ("href", "src") and value is not None:
                self.links.append((value, self.getpos()[0]))
            if name == "id" or (name == "name" and tag == "a"):
                self.anchors.add(value)
        if tag in VOID:
            return
        self.open.append(tag)
        if {"ctl", "msg"} & set((dict(attrs).get("class") or "").split()):
            self.captures.append([len(self.open), ""])

    def handle_endtag(self, tag):
        if tag in VOID or tag not in self.open:
            return
        while self.open.pop() != tag:
            pass
        for depth, text in (c for c in self.captures if c[0] > len(self.open)):
            self.quoted += [(q, self.getpos()[0]) for q in re.findall(r'"([^"]+)"', text)]
        self.captures = [c for c in self.captures if c[0] <= len(self.open)]

    def handle_data(self, data):
        for c in self.captures:
            c[1] += data


def check_pages(help_dir, source_dir):
    texts = source_texts(source_dir)
    wanted = topics(texts)
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
    known = {" ".join(t.split()) for t in texts}
    for rel, p in parsed.items():
        targets = set()
        for value, line in p.links:
            path, _, fragment = value.partition("#")
            target = posixpath.normpath(posixpath.join(posixpath.dirname(rel), urllib.parse.unquote(path))) if path else rel
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
        for quoted, line in p.quoted:
            if " ".join(quoted.split()) not in known:
                fail(rel, f'line {line}: "{quoted}" is not a text of the program')


def check_chm(listing, help_source, source_dir):
    with open(listing, encoding="utf-8", errors="replace") as f:
        names = set(re.findall(r"(?m)^\s*\d+\s+\d+\s+\d+\s+(/.*?)\s*$", f.read()))
    wanted = topics(source_texts(source_dir)) + [CONTENTS]
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
