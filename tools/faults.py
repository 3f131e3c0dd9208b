#!/usr/bin/env python3
"""Deliberate faults against the tests: makes each fault of tools/faults.list
in src/, one at a time, rebuilds, runs the tests until one fails, and puts the
source back. Prints a table of which faults the tests caught and by which test.

A fault names a piece of source text that occurs exactly once under src/ (so a
fault survives files being split or moved) and the text that replaces it.
Linux faults run the native tests (quick gtests first, then the scripts and
boots); faults marked "win" run the Windows build under Wine. A test that
catches a fault must fail a second time alone, or the fault is marked FLAKY
and not counted (a boot may time out on a loaded machine).

The Debian package test is left out: it builds its own package from the tree,
which takes longer than all the rest together.

    tools/faults.py [--only ID[,ID...]] [--report FILE]
"""
import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SLOW = r"^(script_|boot_|QtUsbImage\.|HelperAttack\.LegitimateStick)"
SKIP = r"^script_linux_deb_package_test$"


def parse(path):
    faults, cur = [], None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if line.startswith("#") or not line.strip():
                continue
            if line.startswith("["):
                tag, _, what = line[1:].partition("]")
                ident, _, kind = tag.partition(" ")
                cur = {"id": ident, "win": kind.strip() == "win", "what": what.strip(),
                       "src": None, "bad": None}
                faults.append(cur)
            elif line.startswith("src: "):
                cur["src"] = line[5:]
            elif line.startswith("bad: "):
                cur["bad"] = line[5:]
            elif line.startswith("   |") and cur and cur["bad" if cur["bad"] is not None else "src"]:
                key = "bad" if cur["bad"] is not None else "src"
                cur[key] += "\n" + line[5:]
            else:
                sys.exit(f"faults.list: cannot read: {line}")
    for f in faults:
        if f["src"] is None or f["bad"] is None or f["src"] == f["bad"]:
            sys.exit(f"faults.list: fault {f['id']} needs distinct src: and bad: lines")
    return faults


def locate(text):
    hits = []
    for d, _, names in os.walk(os.path.join(ROOT, "src")):
        for n in names:
            if n.endswith((".cpp", ".h")):
                p = os.path.join(d, n)
                with open(p, encoding="utf-8") as f:
                    k = f.read().count(text)
                if k:
                    hits.append((p, k))
    if len(hits) != 1 or hits[0][1] != 1:
        return None
    return hits[0][0]


def run(cmd, log, cwd=ROOT, env=None):
    with open(log, "a", encoding="utf-8") as out:
        out.write("$ " + " ".join(cmd) + "\n")
        out.flush()
        return subprocess.call(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, env=env)


def first_failure(build):
    failed = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    try:
        with open(failed, encoding="utf-8") as f:
            for line in f:
                return line.strip().partition(":")[2]
    except OSError:
        pass
    return "?"


def ctest(build, log, args):
    failed = os.path.join(build, "Testing", "Temporary", "LastTestsFailed.log")
    if os.path.exists(failed):
        os.remove(failed)
    rc = run(["ctest", "--stop-on-failure", "-j", str(os.cpu_count() or 1), "--timeout", "600"]
             + args, log, cwd=build)
    return None if rc == 0 else first_failure(build)


def configure(build, win, log):
    args = ["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
            "-DSCOUR_SANITIZE=OFF", "-DSCOUR_CACHE_DIR=" + os.path.join(ROOT, "build", "cache")]
    if win:
        args.append("-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", "mingw-w64-posix.cmake"))
    if subprocess.call(["sh", "-c", "command -v ccache"], stdout=subprocess.DEVNULL) == 0:
        args += ["-DCMAKE_C_COMPILER_LAUNCHER=ccache", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
    if run(args, log) != 0 or run(["ninja", "-C", build], log) != 0:
        sys.exit(f"faults: the unchanged tree does not build in {build} (see {log})")


def wine_tests(build, log):
    # The same Wine prefix and display as tools/test.sh.
    script = f'. tools/wine-env.sh "{build}"; trap "scour_wine_stop; scour_display_stop" EXIT; ' \
             'scour_display_start; scour_wine_start; ' \
             f'cd "{build}" && rm -f Testing/Temporary/LastTestsFailed.log && ' \
             'ctest --stop-on-failure -j 2 --timeout 600'
    rc = run(["bash", "-c", script], log)
    return None if rc == 0 else first_failure(build)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--only", default="")
    ap.add_argument("--report", default=os.path.join(ROOT, "build", "faults", "report.txt"))
    opts = ap.parse_args()
    faults = parse(os.path.join(ROOT, "tools", "faults.list"))
    if opts.only:
        want = set(opts.only.split(","))
        faults = [f for f in faults if f["id"] in want]
    work = os.path.join(ROOT, "build", "faults")
    os.makedirs(work, exist_ok=True)
    log = os.path.join(work, "faults.log")
    open(log, "w").close()
    builds = {False: os.path.join(work, "linux"), True: os.path.join(work, "windows")}
    for win in sorted({f["win"] for f in faults}):
        configure(builds[win], win, log)

    rows, caught = [], 0
    for f in faults:
        start = time.time()
        path = locate(f["src"])
        if path is None:
            rows.append((f["id"], "NOT FOUND", "the text is not once in src/", 0))
            continue
        with open(path, encoding="utf-8") as h:
            original = h.read()
        build = builds[f["win"]]
        try:
            with open(path, "w", encoding="utf-8") as h:
                h.write(original.replace(f["src"], f["bad"], 1))
            with open(log, "a", encoding="utf-8") as out:
                out.write(f"\n=== {f['id']}: {f['what']} ({os.path.relpath(path, ROOT)})\n")
            if run(["ninja", "-C", build], log) != 0:
                # Not a fault the tests could see: the list needs mending.
                verdict, by = "NO BUILD", "-"
            elif f["win"]:
                by = wine_tests(build, log)
                verdict = "caught" if by else "MISSED"
            else:
                by = ctest(build, log, ["-E", SLOW + "|" + SKIP]) or \
                    ctest(build, log, ["-R", SLOW, "-E", SKIP])
                verdict = "caught" if by else "MISSED"
                # A boot that times out on a loaded machine is no catch: the
                # failing test must fail again, alone.
                if by and by != "?" and ctest(build, log, ["-R", "^" + re.escape(by) + "$"]) is None:
                    verdict = "FLAKY"
        finally:
            with open(path, "w", encoding="utf-8") as h:
                h.write(original)
            os.utime(path)
        caught += verdict == "caught"
        rows.append((f["id"], verdict, by or "-", time.time() - start))
        print(f"{f['id']:<28} {verdict:<7} {by or '-'}  ({time.time() - start:.0f} s)", flush=True)

    for win in sorted({f["win"] for f in faults}):
        run(["ninja", "-C", builds[win]], log)
    with open(opts.report, "w", encoding="utf-8") as out:
        for r in rows:
            out.write(f"{r[0]:<28} {r[1]:<9} {r[2]}  ({r[3]:.0f} s)\n")
        out.write(f"caught {caught} of {len(faults)}\n")
    print(f"caught {caught} of {len(faults)} (report: {opts.report})")
    flaky = [r[0] for r in rows if r[1] == "FLAKY"]
    if flaky:
        print("failed only once, not counted (run again with --only): " + ",".join(flaky))
    return 0 if caught == len(faults) else 1


if __name__ == "__main__":
    sys.exit(main())
