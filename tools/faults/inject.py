#!/usr/bin/env python3
"""Injects small faults into the tree one at a time and reports which ones no test caught.

Each fault (in tools/faults/*.faults) replaces one exact text of one source file:

    fault: beep-enable-ignores-control
    file: io/frmbeep.cpp
    find: m_enable->setEnabled(control);
    replace: m_enable->setEnabled(true);
    tests: tst_contracts
    env: VELMARROW_CONTRACTS=BeepControl

`find` must occur exactly once in the file ("\\n" in it stands for a line break). `tests`
names the CTest tests that should catch it; `env` (optional, repeatable) sets variables for
them. A fault that no operator or reader could ever tell apart from the program as it is
(the code it changes is unreachable that way) keeps its place in the list with
`equivalent: <why>`: it is reported with that reason and neither applied nor counted.
For every other fault the script applies it, rebuilds those tests incrementally, runs them,
and puts the file back, whatever happens. A fault is caught when a test fails. A fault that
does not build, or whose text is no longer in the file, is reported apart and left out of
the rate.

    tools/faults/inject.py [--build DIR] [--list] [--quiet] [FAULT-ID-OR-FILE-PREFIX ...]

Run it in a clone of its own: it edits source files while it works. The exit status is 0
when at least nine in ten of the faults that built were caught.
"""
import argparse
import glob
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
GOAL = 0.9


def parse(path):
    faults, cur = [], None
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            key, sep, value = line.partition(":")
            if not sep:
                sys.exit(f"{path}:{n}: expected 'key: value'")
            key, value = key.strip(), value[1:] if value.startswith(" ") else value
            if key == "fault":
                cur = {"id": value.strip(), "env": {}, "source": f"{os.path.basename(path)}:{n}"}
                faults.append(cur)
            elif cur is None:
                sys.exit(f"{path}:{n}: '{key}' before the first 'fault:'")
            elif key in ("find", "replace"):
                cur[key] = value.replace("\\n", "\n")
            elif key == "file":
                cur["file"] = value.strip()
            elif key == "tests":
                cur["tests"] = value.split()
            elif key == "equivalent":
                cur["equivalent"] = value.strip()
            elif key == "env":
                name, _, v = value.strip().partition("=")
                cur["env"][name] = v
            else:
                sys.exit(f"{path}:{n}: unknown key '{key}'")
    for fault in faults:
        missing = [k for k in ("file", "find", "replace", "tests") if k not in fault]
        if missing:
            sys.exit(f"{fault['source']}: fault {fault['id']} lacks {', '.join(missing)}")
    return faults


def run(cmd, env=None, timeout=None):
    try:
        p = subprocess.run(cmd, cwd=ROOT, env=env, timeout=timeout, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True, errors="replace")
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired as e:
        return -1, (e.stdout or "") if isinstance(e.stdout, str) else ""


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--list", action="store_true", help="list the faults and stop")
    ap.add_argument("--quiet", action="store_true", help="do not print the output of failing builds")
    ap.add_argument("only", nargs="*", help="fault ids, or prefixes of them")
    args = ap.parse_args()

    faults = []
    for path in sorted(glob.glob(os.path.join(ROOT, "tools", "faults", "*.faults"))):
        faults += parse(path)
    ids = [f["id"] for f in faults]
    dupes = sorted({i for i in ids if ids.count(i) > 1})
    if dupes:
        sys.exit("duplicate fault ids: " + ", ".join(dupes))
    if args.only:
        faults = [f for f in faults if any(f["id"] == o or f["id"].startswith(o) for o in args.only)]
    if args.list:
        for f in faults:
            print(f"{f['id']:48} {f['file']:36} {' '.join(f['tests'])}")
        print(f"{len(faults)} faults")
        return 0

    restore = {}

    def put_back(*_):
        for path, text in restore.items():
            with open(path, "w", encoding="utf-8") as fh:
                fh.write(text)
        restore.clear()

    signal.signal(signal.SIGTERM, lambda *a: (put_back(), sys.exit(1)))
    results = []
    try:
        for i, f in enumerate(faults, 1):
            if f.get("equivalent"):
                results.append((f, "equivalent", f["equivalent"], 0))
                print(f"[{i}/{len(faults)}] {f['id']}: EQUIVALENT ({f['equivalent']})", flush=True)
                continue
            path = os.path.join(ROOT, f["file"])
            with open(path, encoding="utf-8") as fh:
                text = fh.read()
            count = text.count(f["find"])
            start = time.monotonic()
            if count != 1:
                results.append((f, "stale", f"the text occurs {count} times", 0))
                print(f"[{i}/{len(faults)}] {f['id']}: STALE ({count} occurrences)", flush=True)
                continue
            restore[path] = text
            with open(path, "w", encoding="utf-8") as fh:
                fh.write(text.replace(f["find"], f["replace"]))
            try:
                rc, out = run(["cmake", "--build", args.build, "--target", *f["tests"]])
                if rc != 0:
                    results.append((f, "no build", out[-2000:], time.monotonic() - start))
                    print(f"[{i}/{len(faults)}] {f['id']}: DOES NOT BUILD", flush=True)
                    if not args.quiet:
                        print(out[-2000:])
                    continue
                env = dict(os.environ, **f["env"])
                pattern = "^(" + "|".join(f["tests"]) + ")$"
                # The first test that fails settles it: the others need not run.
                rc, out = run(["ctest", "--test-dir", args.build, "-R", pattern, "--timeout", "900",
                               "--output-on-failure", "--stop-on-failure"], env=env)
                verdict = "caught" if rc != 0 else "missed"
                failed = [l.strip() for l in out.splitlines() if l.startswith("FAIL!")][:3]
                results.append((f, verdict, " / ".join(failed), time.monotonic() - start))
                print(f"[{i}/{len(faults)}] {f['id']}: {verdict.upper()} in {time.monotonic() - start:.0f} s"
                      + (f"  {failed[0][:150]}" if failed else ""), flush=True)
            finally:
                put_back()
    finally:
        put_back()
        # Leave the build as the tree is.
        targets = sorted({t for f in faults for t in f["tests"]})
        if targets:
            run(["cmake", "--build", args.build, "--target", *targets])

    counted = [r for r in results if r[1] in ("caught", "missed")]
    caught = [r for r in counted if r[1] == "caught"]
    print()
    for f, verdict, detail, _ in results:
        if verdict != "caught":
            print(f"{verdict.upper():9} {f['id']} ({f['source']}){': ' + detail.splitlines()[0] if verdict in ('stale', 'equivalent') else ''}")
    rate = len(caught) / len(counted) if counted else 0.0
    print(f"caught {len(caught)} of {len(counted)} faults ({rate:.0%}); goal {GOAL:.0%}"
          + (f"; {len(results) - len(counted)} not counted (stale, not building or equivalent)" if len(results) > len(counted) else ""))
    return 0 if counted and rate >= GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
