#!/usr/bin/env python3
"""Plants the faults of scripts/faults.py one at a time, builds, runs the tests, and reports
which test caught each fault and which survived.

    scripts/plant-faults.py [--build-dir DIR] [--only ID ...] [--exclude REGEX] [--jobs N]
                            [--out FILE]

Each fault replaces one exact text of one product file; the file is put back before the next,
also when the run is interrupted. The build directory is configured once (default
build-faults) and built incrementally. A fault is caught when the build succeeds and some test
fails; one that does not build is reported as such, never counted as caught. The race test is
left out by default (--exclude race): it runs for seconds whatever the fault.
"""
import argparse
import collections
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
from faults import FAULTS  # noqa: E402


def run(command, timeout=None):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=timeout)


def failed_tests(output):
    names = []
    seen = False
    for line in output.splitlines():
        if "The following tests FAILED" in line:
            seen = True
        elif seen and " - " in line:
            names.append(line.split(" - ")[1].split(" (")[0].strip())
    return names


def plant(fault, build_dir, exclude, jobs):
    path = os.path.join(ROOT, fault["file"])
    with open(path, encoding="utf-8") as handle:
        original = handle.read()
    if original.count(fault["old"]) != 1:
        return "not planted", "the text to replace is not there exactly once"
    try:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(original.replace(fault["old"], fault["new"]))
        build = run(["cmake", "--build", build_dir])
        if build.returncode != 0:
            return "no build", build.stdout.strip().splitlines()[-1:]
        tests = run(["ctest", "--test-dir", build_dir, "-E", exclude, "--timeout", "300",
                     "-j", str(jobs)])
        failed = failed_tests(tests.stdout)
        if tests.returncode != 0:
            return "caught", ", ".join(failed) or "ctest failed"
        return "SURVIVED", ""
    finally:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default="build-faults")
    parser.add_argument("--only", nargs="*", default=[])
    parser.add_argument("--exclude", default="^race$")
    parser.add_argument("--jobs", type=int, default=1, help="tests run at once")
    parser.add_argument("--out", default=None)
    args = parser.parse_args()

    configure = run(["cmake", "-S", ".", "-B", args.build_dir, "-G", "Ninja",
                     "-DCMAKE_BUILD_TYPE=RelWithDebInfo"])
    baseline = run(["cmake", "--build", args.build_dir])
    if configure.returncode != 0 or baseline.returncode != 0:
        sys.exit("the unchanged tree does not build:\n" + configure.stdout + baseline.stdout)

    faults = [f for f in FAULTS if not args.only or f["id"] in args.only]
    out = open(args.out, "w", encoding="utf-8") if args.out else None
    tally = collections.defaultdict(collections.Counter)
    for fault in faults:
        started = time.time()
        result, detail = plant(fault, args.build_dir, args.exclude, args.jobs)
        tally[fault["area"]][result] += 1
        line = "%-12s %-11s %-9s %4ds  %s  [%s]" % (fault["id"], fault["area"], result,
                                                   time.time() - started, fault["what"], detail)
        print(line, flush=True)
        if out:
            out.write(line + "\n")
            out.flush()
    # Put the build back in step with the unchanged sources.
    run(["cmake", "--build", args.build_dir])
    caught = sum(t["caught"] for t in tally.values())
    planted = sum(t["caught"] + t["SURVIVED"] for t in tally.values())
    summary = ["%s %d/%d" % (area, t["caught"], t["caught"] + t["SURVIVED"])
               for area, t in sorted(tally.items())]
    line = "caught %d of %d built faults (%.0f%%): %s" % (
        caught, planted, 100.0 * caught / max(planted, 1), ", ".join(summary))
    print(line)
    if out:
        out.write(line + "\n")
    broken = sum(t["no build"] + t["not planted"] for t in tally.values())
    if broken:
        print("%d faults did not build or could not be planted" % broken)


if __name__ == "__main__":
    main()
