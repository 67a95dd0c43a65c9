#!/usr/bin/env python3
"""Injects realistic faults into the product code one at a time and records which the test suite
catches. Used to check that trimming or reworking tests loses no fault the suite caught before.

  tools/mutation/run.py [--rev REV] [--faults FILE] [--only NAME...] [--out FILE]
                        [--define NAME=VALUE]... [--tree DIR] [--jobs N] [--tests REGEX]
  tools/mutation/run.py --compare BEFORE AFTER
  tools/mutation/run.py --check          (each fault's text stands once in this working tree)

The faults are read from tools/mutation/faults.txt (see its header). The run checks out REV
(default HEAD) into a scratch worktree, builds it once, then for each fault: applies it, rebuilds,
runs ctest (stopping at the first failure), and puts the file back. The working tree you are in is
never touched. --define passes a CMake setting (QUORVANE_GUI=OFF: the core and its tests only,
much quicker where the faults are all in the core). The build treats warnings as errors, as CI
does, so a fault that only warns counts as no-build. --jobs N builds and tests N at a time
(default 2; 1 leaves a core to whoever shares the machine). --tests REGEX runs only the tests
whose names match (ctest -R): quicker, and a fault counts as caught by those tests alone.
--tree DIR keeps the scratch worktree and its
build in DIR for the next run, which checks REV out there and builds only what changed. Results are written as TSV lines: name, result (caught, missed, no-build), seconds.
--compare reads two result files and fails when AFTER misses a fault BEFORE caught.
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]


def read_faults(path):
    """Blocks separated by blank lines: '# name: why', '@ path', '< original', '> replacement'.
    Several '<'/'>' lines make a multi-line text; a fault with no '>' line deletes the text."""
    faults, block = [], []
    for line in pathlib.Path(path).read_text(encoding="utf-8").splitlines() + [""]:
        if line.strip():
            block.append(line)
            continue
        if block and not all(l.startswith("##") for l in block):
            fault = {"name": None, "path": None, "old": [], "new": []}
            for l in block:
                tag, text = l[:1], l[2:]
                if l.startswith("##"):
                    continue
                if tag == "#":
                    fault["name"] = text.split(":", 1)[0].strip()
                elif tag == "@":
                    fault["path"] = text.strip()
                elif tag == "<":
                    fault["old"].append(text)
                elif tag == ">":
                    fault["new"].append(text)
            if not (fault["name"] and fault["path"] and fault["old"]):
                sys.exit(f"incomplete fault block: {block}")
            fault["old"], fault["new"] = "\n".join(fault["old"]), "\n".join(fault["new"])
            faults.append(fault)
        block = []
    names = [f["name"] for f in faults]
    duplicates = {n for n in names if names.count(n) > 1}
    if duplicates:
        sys.exit(f"fault names used twice: {sorted(duplicates)}")
    return faults


def run(command, cwd, timeout=None):
    return subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout).returncode


def mutate(args):
    faults = read_faults(args.faults)
    # Named here, not in the scratch tree, where HEAD is whatever the last run checked out.
    args.rev = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--verify",
                               args.rev + "^{commit}"], check=True, capture_output=True,
                              text=True).stdout.strip()
    if args.only:
        faults = [f for f in faults if f["name"] in args.only]
    if args.tree:
        scratch = None
        tree = pathlib.Path(args.tree).resolve()
        if tree.exists():
            subprocess.run(["git", "-C", str(tree), "checkout", "--detach", args.rev], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        else:
            subprocess.run(["git", "-C", str(ROOT), "worktree", "add", "--detach", str(tree),
                            args.rev], check=True, stdout=subprocess.DEVNULL)
    else:
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="quorvane-mutation-"))
        tree = scratch / "tree"
        subprocess.run(["git", "-C", str(ROOT), "worktree", "add", "--detach", str(tree),
                        args.rev], check=True, stdout=subprocess.DEVNULL)
    out = open(args.out, "w", encoding="utf-8")
    try:
        build = tree / "build"
        subprocess.run(["cmake", "-S", str(tree), "-B", str(build), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Release", "-DQUORVANE_BENCH=OFF",
                        "-DQUORVANE_WERROR=ON"] +
                       [f"-D{d}" for d in args.define], check=True,
                       stdout=subprocess.DEVNULL)
        jobs = f"-j{args.jobs}"
        only = ["-R", args.tests] if args.tests else []
        if run(["cmake", "--build", str(build), jobs], tree) != 0:
            sys.exit(f"{args.rev} does not build")
        if run(["ctest", jobs, "--timeout", "300"] + only, build) != 0:
            sys.exit(f"the suite of {args.rev} fails without any fault")
        caught = 0
        for fault in faults:
            path = tree / fault["path"]
            original = path.read_text(encoding="utf-8")
            if original.count(fault["old"]) != 1:
                sys.exit(f"{fault['name']}: its text stands {original.count(fault['old'])} times "
                         f"in {fault['path']}, not once")
            start = time.time()
            try:
                path.write_text(original.replace(fault["old"], fault["new"]), encoding="utf-8")
                if run(["cmake", "--build", str(build), jobs], tree) != 0:
                    result = "no-build"
                elif run(["ctest", jobs, "--stop-on-failure", "--timeout", "300"] + only,
                         build) != 0:
                    result = "caught"
                else:
                    result = "missed"
            finally:
                path.write_text(original, encoding="utf-8")
            caught += result == "caught"
            line = f"{fault['name']}\t{result}\t{time.time() - start:.0f}"
            print(line, flush=True)
            out.write(line + "\n")
            out.flush()
        print(f"caught {caught} of {len(faults)} faults")
    finally:
        out.close()
        if scratch:
            subprocess.run(["git", "-C", str(ROOT), "worktree", "remove", "--force", str(tree)],
                           stdout=subprocess.DEVNULL)
            shutil.rmtree(scratch, ignore_errors=True)


def results(path):
    rows = {}
    for line in pathlib.Path(path).read_text(encoding="utf-8").splitlines():
        name, result = line.split("\t")[:2]
        rows[name] = result
    return rows


def compare(before_path, after_path):
    before, after = results(before_path), results(after_path)
    lost = [n for n, r in before.items() if r == "caught" and after.get(n) != "caught"]
    count = lambda rows: sum(r == "caught" for r in rows.values())
    print(f"before: caught {count(before)} of {len(before)}; "
          f"after: caught {count(after)} of {len(after)}")
    for name in lost:
        print(f"lost: {name} ({after.get(name, 'not run')})")
    return 1 if lost else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rev", default="HEAD")
    parser.add_argument("--faults", default=str(ROOT / "tools/mutation/faults.txt"))
    parser.add_argument("--only", nargs="*")
    parser.add_argument("--out", default="mutation-results.tsv")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"))
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--define", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("--tree")
    parser.add_argument("--jobs", type=int, default=2, choices=(1, 2))
    parser.add_argument("--tests", metavar="REGEX")
    args = parser.parse_args()
    if args.compare:
        sys.exit(compare(*args.compare))
    if args.check:
        faults = read_faults(args.faults)
        bad = [f["name"] for f in faults
               if (ROOT / f["path"]).read_text(encoding="utf-8").count(f["old"]) != 1]
        print(f"{len(faults)} faults, {len(bad)} whose text does not stand once: {bad}")
        sys.exit(1 if bad else 0)
    os.nice(5)
    mutate(args)


if __name__ == "__main__":
    main()
