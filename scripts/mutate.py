#!/usr/bin/env python3
"""Seeds one-line faults into the program, one at a time, and tells which the tests catch.

Each entry of the list (scripts/mutations.txt by default) names a file, a text that occurs in it
(exactly once, or the occurrence given), its replacement, the test programs and the gtest filter
that should notice the change, and what an operator would see. For each entry the script

  1. checks once, on the unmutated tree, that the entry's tests pass and run at least one test
     ("baseline fails" otherwise: such an entry is not counted);
  2. applies the change in place, rebuilds only the named test programs and runs them with the
     filter, offscreen, each run with a time limit;
  3. records "caught (build)", "caught (test)", "caught (time limit)" or "missed";
  4. puts the file back (also on Ctrl-C or a failure of the script) and checks with git that the
     file is as committed.

At the end it prints a table and the share caught, and rebuilds the touched test programs from
the unmutated sources, so that build/ is left matching the tree.

    scripts/mutate.py                 # every entry
    scripts/mutate.py --list          # the entries, without running anything
    scripts/mutate.py link-pixel-1280 params-*   # some entries (shell-style patterns)
    scripts/mutate.py --folder measure           # the entries of one folder

A developer tool: ./test.sh does not run it. It needs a configured build/ (scripts/build.sh).
"""

import argparse
import fnmatch
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_LIST = os.path.join(ROOT, "scripts", "mutations.txt")
KEYS = ("file", "find", "occurrence", "replace", "tests", "filter", "operator")


class ListError(Exception):
    pass


def unescape(text):
    # Values are taken as written; \t, \n and \\ stand for a tab, a line break and a backslash, and
    # a value wrapped in double quotes keeps its leading and trailing spaces.
    if len(text) >= 2 and text[0] == '"' and text[-1] == '"':
        text = text[1:-1]
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text) and text[i + 1] in "nt\\":
            out.append({"n": "\n", "t": "\t", "\\": "\\"}[text[i + 1]])
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def read_list(path):
    """Entries in the order of the file: '[name]' starts one, 'key = value' lines follow."""
    entries, current = [], None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            stripped = line.strip()
            if not stripped or stripped.startswith("#"):
                continue
            m = re.match(r"^\[([A-Za-z0-9_.-]+)\]$", stripped)
            if m:
                current = {"name": m.group(1), "line": number}
                entries.append(current)
                continue
            m = re.match(r"^([a-z]+)\s*=\s?(.*)$", line.rstrip("\n"))
            if not m or current is None or m.group(1) not in KEYS:
                raise ListError("%s:%d: cannot read %r" % (path, number, stripped))
            current[m.group(1)] = unescape(m.group(2).rstrip())
    names = set()
    for e in entries:
        for key in ("file", "find", "tests", "operator"):
            if not e.get(key):
                raise ListError("%s:%d: [%s] has no %s" % (path, e["line"], e["name"], key))
        e.setdefault("replace", "")
        e.setdefault("filter", "*")
        e["occurrence"] = int(e.get("occurrence", "0"))
        e["tests"] = e["tests"].split()
        if e["name"] in names:
            raise ListError("%s:%d: [%s] given twice" % (path, e["line"], e["name"]))
        names.add(e["name"])
    return entries


def locate(entry, text):
    """The offset of the entry's text in the file, or a reason why the entry no longer fits."""
    find = entry["find"]
    offsets = [m.start() for m in re.finditer(re.escape(find), text)]
    if not offsets:
        return None, "text not found"
    if entry["occurrence"]:
        if entry["occurrence"] > len(offsets):
            return None, "occurrence %d of %d" % (entry["occurrence"], len(offsets))
        return offsets[entry["occurrence"] - 1], None
    if len(offsets) > 1:
        return None, "text occurs %d times: give an occurrence" % len(offsets)
    return offsets[0], None


def run(cmd, timeout, env=None):
    """(return code, output); the code is None when the time limit ended the run."""
    proc = subprocess.Popen(cmd, cwd=ROOT, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out.decode("utf-8", "replace")
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)  # the test program and whatever it started
        out, _ = proc.communicate()
        return None, out.decode("utf-8", "replace")


def build(targets, timeout):
    code, out = run(["cmake", "--build", "build", "--target"] + targets, timeout)
    return code == 0, out


def run_tests(program, gfilter, timeout):
    """('pass' | 'fail' | 'time limit' | 'no tests', names of failed tests)."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    exe = os.path.join(ROOT, "build", "bin", program)
    code, out = run([exe, "--gtest_filter=" + gfilter], timeout, env)
    failed = re.findall(r"^\[  FAILED  \] (\S+)", out, re.M)
    failed = sorted(set(f for f in failed if "." in f))
    if code is None:
        return "time limit", failed
    ran = re.search(r"^\[==========\] (\d+) tests? from .* ran", out, re.M)
    if code == 0 and (not ran or int(ran.group(1)) == 0):
        return "no tests", failed
    return ("pass" if code == 0 else "fail"), failed


class Restorer:
    """Puts a mutated file back, whatever ends the script."""

    def __init__(self):
        self.path = None
        self.original = None
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(sig, self._on_signal)

    def mutate(self, path, original, mutated):
        self.path, self.original = path, original
        with open(path, "wb") as f:
            f.write(mutated)

    def restore(self):
        if self.path is None:
            return
        with open(self.path, "wb") as f:
            f.write(self.original)
        self.path = self.original = None

    def _on_signal(self, signum, frame):
        self.restore()
        sys.stderr.write("\nstopped; the mutated file is restored\n")
        sys.exit(128 + signum)


def git_clean(relpath):
    return subprocess.call(["git", "diff", "--quiet", "HEAD", "--", relpath], cwd=ROOT) == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("patterns", nargs="*", help="entry names (shell patterns); default: all")
    parser.add_argument("--list", action="store_true", help="show the entries and check they still fit")
    parser.add_argument("--file", default=DEFAULT_LIST, help="the list of mutations")
    parser.add_argument("--folder", help="only entries of files in this folder (app, link, ...)")
    parser.add_argument("--test-timeout", type=float, default=120.0, help="seconds per test run")
    parser.add_argument("--build-timeout", type=float, default=900.0, help="seconds per rebuild")
    parser.add_argument("--no-baseline", action="store_true", help="skip the run on the unmutated tree")
    args = parser.parse_args()

    try:
        entries = read_list(args.file)
    except (OSError, ListError) as e:
        sys.exit("mutate: %s" % e)
    if args.patterns:
        entries = [e for e in entries if any(fnmatch.fnmatch(e["name"], p) for p in args.patterns)]
    if args.folder:
        entries = [e for e in entries if e["file"].split("/")[0] == args.folder.strip("/")]
    if not entries:
        sys.exit("mutate: no entry matches")

    # Every entry must still fit the code: a list that went stale says so before anything runs.
    stale = []
    for e in entries:
        path = os.path.join(ROOT, e["file"])
        try:
            with open(path, encoding="utf-8", errors="surrogateescape") as f:
                _, why = locate(e, f.read())
        except OSError as err:
            why = str(err)
        if why:
            stale.append("  [%s] %s: %s" % (e["name"], e["file"], why))
    if args.list:
        folders = {}
        for e in entries:
            folders.setdefault(e["file"].split("/")[0], []).append(e)
            print("%-28s %-32s %s" % (e["name"], e["file"], e["operator"]))
        print("\n%d entries: %s" % (len(entries),
                                    ", ".join("%s %d" % (k, len(v)) for k, v in sorted(folders.items()))))
    if stale:
        sys.exit("mutate: entries that no longer fit the code:\n" + "\n".join(stale))
    if args.list:
        return
    if not os.path.isfile(os.path.join(ROOT, "build", "build.ninja")):
        sys.exit("mutate: build/ is not configured: run scripts/build.sh first")
    dirty = sorted(set(e["file"] for e in entries if not git_clean(e["file"])))
    if dirty:
        sys.exit("mutate: uncommitted changes in %s: commit or stash them first" % ", ".join(dirty))

    restorer = Restorer()
    targets = sorted(set(t for e in entries for t in e["tests"]))

    # The entries' tests on the unmutated tree.
    baseline = {}
    if not args.no_baseline:
        print("baseline: building %s" % " ".join(targets), flush=True)
        ok, out = build(targets, args.build_timeout)
        if not ok:
            sys.exit("mutate: the unmutated tree does not build:\n" + out[-3000:])
        for key in sorted(set((t, e["filter"]) for e in entries for t in e["tests"])):
            baseline[key] = run_tests(key[0], key[1], args.test_timeout)
            if baseline[key][0] != "pass":
                print("baseline: %s --gtest_filter=%s: %s %s" % (key[0], key[1], baseline[key][0],
                                                               " ".join(baseline[key][1])), flush=True)

    results = []
    try:
        for n, e in enumerate(entries, 1):
            started = time.time()
            bad = [t for t in e["tests"] if baseline.get((t, e["filter"]), ("pass",))[0] != "pass"]
            if bad:
                verdict, detail = "baseline fails", " ".join(
                    "%s:%s" % (t, baseline[(t, e["filter"])][0]) for t in bad)
            else:
                path = os.path.join(ROOT, e["file"])
                with open(path, "rb") as f:
                    original = f.read()
                text = original.decode("utf-8", "surrogateescape")
                at, _ = locate(e, text)
                mutated = text[:at] + e["replace"] + text[at + len(e["find"]):]
                restorer.mutate(path, original, mutated.encode("utf-8", "surrogateescape"))
                try:
                    ok, out = build(e["tests"], args.build_timeout)
                    if not ok:
                        verdict = "caught (build)"
                        errors = re.findall(r"error: (.*)", out)
                        detail = errors[0][:70] if errors else "build failed"
                    else:
                        verdict, detail = "missed", ""
                        for t in e["tests"]:
                            outcome, failed = run_tests(t, e["filter"], args.test_timeout)
                            if outcome in ("fail", "time limit"):
                                verdict = "caught (test)" if outcome == "fail" else "caught (time limit)"
                                detail = "%s: %s" % (t, " ".join(failed) if failed else outcome)
                                break
                            if outcome == "no tests":
                                verdict, detail = "missed", "%s: no test matched" % t
                finally:
                    restorer.restore()
                if not git_clean(e["file"]):
                    sys.exit("mutate: %s differs from the commit after restoring it: stopped" % e["file"])
            results.append((e, verdict, detail))
            print("[%d/%d] %-28s %-20s %5.0fs  %s" % (n, len(entries), e["name"], verdict,
                                                     time.time() - started, detail), flush=True)
    finally:
        restorer.restore()
        # build/ follows the restored sources again (ccache makes this quick).
        build(targets, args.build_timeout)

    counted = [r for r in results if r[1] != "baseline fails"]
    caught = [r for r in counted if r[1].startswith("caught")]
    missed = [r for r in counted if r[1] == "missed"]
    print("\n%-28s %-20s %s" % ("entry", "result", "what an operator would notice"))
    for e, verdict, _ in results:
        print("%-28s %-20s %s" % (e["name"], verdict, e["operator"]))
    folders = {}
    for e, verdict, _ in counted:
        c = folders.setdefault(e["file"].split("/")[0], [0, 0])
        c[1] += 1
        c[0] += verdict.startswith("caught")
    print("\nby folder: " + ", ".join("%s %d/%d" % (k, v[0], v[1]) for k, v in sorted(folders.items())))
    skipped = len(results) - len(counted)
    share = 100.0 * len(caught) / len(counted) if counted else 0.0
    print("caught %d of %d (%.1f %%)%s" % (len(caught), len(counted), share,
                                           ", %d not counted: baseline fails" % skipped if skipped else ""))
    if missed:
        print("missed: " + " ".join(r[0]["name"] for r in missed))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
