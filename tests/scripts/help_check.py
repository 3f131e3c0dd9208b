#!/usr/bin/env python3
"""Checks the help pages and the compiled help file.

  help_check.py pages HELP_DIR [SOURCE_DIR]
      every topic the program opens exists; every page is well-formed, links
      only to files (and anchors) that exist under HELP_DIR, loads nothing
      from elsewhere, links back to the contents, and the contents link every
      topic; with SOURCE_DIR, every quoted control or message text is one the
      program really shows.
  help_check.py chm LISTING HELP_SOURCE_DIR [SOURCE_DIR]
      LISTING is `chmls list` of bootwiz.chm: every topic, every page and
      style sheet of HELP_SOURCE_DIR and every entry of the contents and index
      files are inside it.

Prints one line per failed check and exits 1 when any failed.
"""
import html.parser
import os
import posixpath
import re
import sys
import urllib.parse

TOPIC_DIR = "HTML_Help_e/html/04_using/ISO Configuration Wizard/"
TOPICS = [TOPIC_DIR + name for name in (
    "01_configuration_wizard.htm",
    "02_configuration_for_automatic.htm",
    "02_log_setting.htm",
    "03_select_scheme.htm",
    "04_options_for_ata.htm",
    "05_summary.htm",
    "06_choosing_media.htm",
    "07a_iso.htm",
    "07b_usb.htm",
)]
CONTENTS = "index.html"

VOID = {"area", "base", "br", "col", "hr", "img", "input", "link", "meta", "param"}
FORBIDDEN = {"script", "iframe", "frame", "frameset", "embed", "applet", "object", "form"}
LINK_ATTRS = {"href", "src", "background", "data", "action", "cite", "longdesc", "usemap"}
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")

failures = []


def fail(where, what):
    failures.append(f"{where}: {what}")


def program_topics(source_dir):
    """The fixed topics plus any topic path the program's sources name."""
    topics = list(TOPICS)
    if source_dir:
        for text in source_texts(source_dir):
            if text.startswith("HTML_Help_e/") and text not in topics:
                topics.append(text)
    return topics


_literals = None


def source_texts(source_dir):
    """Every string literal of the program (adjacent literals joined), unescaped."""
    global _literals
    if _literals is not None:
        return _literals
    literal = r'(?:u8|L|u|U)?"(?:[^"\\\n]|\\.)*"'
    run = re.compile(literal + r"(?:\s*" + literal + r")*")
    one = re.compile(literal)
    out = set()
    for base, _, files in os.walk(os.path.join(source_dir, "src")):
        for name in files:
            if not name.endswith((".cpp", ".h")):
                continue
            with open(os.path.join(base, name), encoding="utf-8", errors="replace") as f:
                code = f.read()
            for m in run.finditer(code):
                parts = [p[p.index('"') + 1:-1] for p in one.findall(m.group(0))]
                out.add(unescape_c("".join(parts)))
    _literals = out
    return out


def unescape_c(text):
    def repl(m):
        s = m.group(1)
        if s[0] in "uU" and len(s) > 1:
            return chr(int(s[1:], 16))
        return {"n": "\n", "t": "\t", "r": "\r"}.get(s, s)
    return re.sub(r"\\(u[0-9a-fA-F]{4}|U[0-9a-fA-F]{8}|.)", repl, text)


def normalize(text):
    return " ".join(text.split())


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = []
        self.problems = []
        self.links = []       # (attribute value, line)
        self.anchors = set()
        self.titles = []
        self.doctype = None
        self.captures = []    # [tag, depth, text] for class ctl / msg
        self.quoted = []      # (text, line)
        self.in_title = False

    def handle_decl(self, decl):
        self.doctype = decl

    def handle_starttag(self, tag, attrs):
        line = self.getpos()[0]
        if tag in FORBIDDEN:
            self.problems.append(f"line {line}: <{tag}> is not allowed")
        for name, value in attrs:
            if name.startswith("on"):
                self.problems.append(f"line {line}: event handler {name}")
            if name in LINK_ATTRS and value is not None:
                self.links.append((value, line))
            if name == "id" or (name == "name" and tag == "a"):
                self.anchors.add(value)
        if tag == "title":
            self.in_title = True
            self.titles.append("")
        classes = (dict(attrs).get("class") or "").split()
        if tag in VOID:
            return
        self.stack.append((tag, line))
        for c in self.captures:
            c[1] += 1
        if "ctl" in classes or "msg" in classes:
            self.captures.append([tag, 0, ""])

    def handle_startendtag(self, tag, attrs):
        if tag not in VOID:
            self.problems.append(f"line {self.getpos()[0]}: <{tag}/> is not an empty element")
        self.handle_starttag(tag, attrs)

    def handle_endtag(self, tag):
        line = self.getpos()[0]
        if tag in VOID:
            self.problems.append(f"line {line}: end tag for empty element <{tag}>")
            return
        if tag not in (t for t, _ in self.stack):
            self.problems.append(f"line {line}: </{tag}> closes nothing")
            return
        while self.stack[-1][0] != tag:
            inner, opened = self.stack.pop()
            self.problems.append(f"line {line}: </{tag}> leaves <{inner}> of line {opened} open")
            self.end_captures(line)
        self.stack.pop()
        if tag == "title":
            self.in_title = False
        self.end_captures(line)

    def end_captures(self, line):
        for c in self.captures:
            if c[1] == 0:
                self.quoted += [(q, line) for q in re.findall(r'"([^"]+)"', c[2])]
        self.captures = [c for c in self.captures if c[1] != 0]
        for c in self.captures:
            c[1] -= 1

    def handle_data(self, data):
        if self.in_title:
            self.titles[-1] += data
        for c in self.captures:
            c[2] += data


def check_pages(help_dir, source_dir):
    topics = program_topics(source_dir)
    for topic in topics:
        if not os.path.isfile(os.path.join(help_dir, topic)):
            fail(topic, "topic file is missing")

    files = []
    for base, _, names in os.walk(help_dir):
        for name in names:
            files.append(posixpath.relpath(os.path.join(base, name), help_dir).replace(os.sep, "/"))
    pages = sorted(f for f in files if f.endswith((".htm", ".html")))
    parsed = {}
    for rel in pages:
        with open(os.path.join(help_dir, rel), "rb") as f:
            raw = f.read()
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError as e:
            fail(rel, f"not UTF-8: {e}")
            continue
        if re.search(r"(?i)https?:|ftp:|//[a-z0-9.-]+\.[a-z]{2,}", text):
            fail(rel, "names a remote address")
        p = Page()
        p.feed(text)
        p.close()
        for problem in p.problems:
            fail(rel, problem)
        for tag, line in p.stack:
            fail(rel, f"<{tag}> of line {line} is never closed")
        if not p.doctype or not p.doctype.upper().startswith("DOCTYPE HTML"):
            fail(rel, "no HTML document type")
        if len(p.titles) != 1 or not p.titles[0].strip():
            fail(rel, "needs exactly one non-empty title")
        parsed[rel] = p

    for css in (f for f in files if f.endswith(".css")):
        with open(os.path.join(help_dir, css), encoding="utf-8") as f:
            sheet = f.read()
        if re.search(r"(?i)@import|url\s*\(|https?:", sheet):
            fail(css, "loads other resources")

    # Links: relative, inside the help folder, to files and anchors that exist.
    for rel, p in parsed.items():
        here = posixpath.dirname(rel)
        targets = set()
        for value, line in p.links:
            if SCHEME.match(value) or value.startswith("//") or value.startswith("/"):
                fail(rel, f"line {line}: {value!r} is not a relative link")
                continue
            if " " in value:
                fail(rel, f"line {line}: {value!r} has an unescaped space")
            path, _, fragment = value.partition("#")
            path = urllib.parse.unquote(path)
            target = posixpath.normpath(posixpath.join(here, path)) if path else rel
            if target.startswith("../"):
                fail(rel, f"line {line}: {value!r} leaves the help folder")
                continue
            if target not in files:
                fail(rel, f"line {line}: {value!r} names a missing file")
                continue
            if fragment and (target not in parsed or fragment not in parsed[target].anchors):
                fail(rel, f"line {line}: {value!r} names a missing anchor")
            targets.add(target)
        if rel in topics and CONTENTS not in targets:
            fail(rel, "does not link back to the contents")
        if rel == CONTENTS:
            for topic in topics:
                if topic not in targets:
                    fail(CONTENTS, f"does not link {topic}")

    # Texts given as the program's own must be the program's own.
    if source_dir:
        known = {normalize(t) for t in source_texts(source_dir)}
        for rel, p in parsed.items():
            for quoted, line in p.quoted:
                if normalize(quoted) not in known:
                    fail(rel, f"line {line}: \"{quoted}\" is not a text of the program")


def check_chm(listing, help_source, source_dir):
    names = set()
    with open(listing, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = re.match(r"^\s*\d+\s+\d+\s+\d+\s+(/.*?)\s*$", line)
            if m:
                names.add(m.group(1))
    wanted = program_topics(source_dir) + [CONTENTS]
    for base, _, files in os.walk(help_source):
        for name in sorted(files):
            if name.endswith((".htm", ".html", ".css", ".png", ".gif")):
                rel = os.path.relpath(os.path.join(base, name), help_source)
                wanted.append(rel.replace(os.sep, "/"))
    for project in ("bootwiz.hhc", "bootwiz.hhk"):
        with open(os.path.join(help_source, project), encoding="utf-8") as f:
            for local in re.findall(r'name="Local"\s+value="([^"]+)"', f.read(), re.I):
                wanted.append(local.partition("#")[0])
    for path in dict.fromkeys(wanted):
        if "/" + path not in names:
            fail("bootwiz.chm", f"{path} is not inside")


def main(argv):
    if len(argv) >= 3 and argv[1] == "pages":
        check_pages(argv[2], argv[3] if len(argv) > 3 else None)
    elif len(argv) >= 4 and argv[1] == "chm":
        check_chm(argv[2], argv[3], argv[4] if len(argv) > 4 else None)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    for line in failures:
        print(line)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
