#!/usr/bin/env python3
"""Plants one-line faults in a scratch checkout, one at a time, and counts how many the
test suite catches.

    scripts/mutate.py --tree SCRATCH [--build SCRATCH/build] [--count 150] [--seed 7]
                      [--paths lib app] [--list mutants.json] [--out results.json]
                      [--programs NAME ...] [--layered] [--record-tests] [--headers]

SCRATCH is a checkout that may be changed (a git worktree); it is restored after every
mutant. Mutants are drawn reproducibly from the .cpp files under --paths (folders, or .cpp
files named directly, relative to SCRATCH), and with --headers from the .h files too: each
is a file, the exact text of one line and its replacement. With --list, the mutants of an
earlier run are planted again where their line still stands exactly once, so that two
versions of the suite can be compared on the same faults. A mutant that does not compile is not counted.

By default every mutant rebuilds the tree and runs the whole suite through ctest. To make a
mutant cheaper, --programs names the test programs (kestrel_core_tests, ...) that are built
and run instead, each directly and in its own build folder; --layered keeps, of those (or of
all programs when none are named), only the programs of the mutated file's layer and the
layers above it, which are the only ones that link it. Configure the scratch build with
-DKESTREL_BENCH=OFF -DKESTREL_GUI=OFF so that a rebuild compiles nothing else. With
--record-tests, every named program runs to its end and the results name the tests that
failed for each mutant, so that a suite can be judged test by test.
"""

import argparse
import functools
import json
import os
import random
import re
import subprocess
import sys
import time

RULES = [
    (r" <= ", " < "), (r" < ", " <= "), (r" >= ", " > "), (r" > ", " >= "),
    (r"==", "!="), (r"!=", "=="), (r"&&", "||"), (r"\|\|", "&&"),
    (r"\+ 1\b", "- 1"), (r"- 1\b", "+ 1"), (r"\btrue\b", "false"), (r"\bfalse\b", "true"),
    (r"\+\+", "--"), (r"(?<![-])--(?![-])", "++"), (r"\breturn !", "return "),
    (r"\bif \(!", "if ("), (r"\bbreak;", ";"), (r"\bcontinue;", ";"), (r"\b0\b", "1"),
]
# The test programs that link each source folder, lowest layer first.
APP_PROGRAMS = ["kestrel_engine_tests", "kestrel_cli_tests", "kestrel_gui_tests"]
RECORDS_PROGRAMS = ["kestrel_files_tests", "kestrel_index_tests"] + APP_PROGRAMS
VALUES_PROGRAMS = ["kestrel_values_tests"] + RECORDS_PROGRAMS
INI_PROGRAMS = ["kestrel_ini_tests"] + VALUES_PROGRAMS
IO_PROGRAMS = ["kestrel_io_tests"] + INI_PROGRAMS
LAYER_PROGRAMS = {
    "lib/core": ["kestrel_core_tests", "kestrel_platform_tests", "kestrel_progress_tests"]
    + IO_PROGRAMS,
    "lib/platform": ["kestrel_platform_tests"] + IO_PROGRAMS,
    "lib/progress": ["kestrel_progress_tests"] + IO_PROGRAMS,
    "lib/io": IO_PROGRAMS,
    "lib/ini": INI_PROGRAMS,
    "lib/values": VALUES_PROGRAMS,
    "lib/files": RECORDS_PROGRAMS,
    "lib/index": RECORDS_PROGRAMS,
    "lib/txn": RECORDS_PROGRAMS,
    "app": APP_PROGRAMS,
}
SKIP = re.compile(r"^\s*(//|#|\*|/\*)|static_assert|KS_PRINTF|template\s*<|operator")


def sources(tree, paths, endings):
    """The files with one of `endings` under each of `paths`, or the path itself when it
    names such a file."""
    for top in paths:
        if os.path.isfile(os.path.join(tree, top)):
            if top.endswith(endings):
                yield os.path.normpath(top)
            continue
        for folder, _, files in os.walk(os.path.join(tree, top)):
            for name in sorted(files):
                if name.endswith(endings):
                    yield os.path.relpath(os.path.join(folder, name), tree)


def candidates(tree, paths, endings):
    found = []
    for path in sources(tree, paths, endings):
        lines = open(os.path.join(tree, path), encoding="utf-8").read().split("\n")
        counts = {}
        for line in lines:
            counts[line] = counts.get(line, 0) + 1
        for line in lines:
            if counts[line] != 1 or SKIP.search(line) or not line.strip():
                continue
            for pattern, replacement in RULES:
                for match in re.finditer(pattern, line):
                    mutated = line[:match.start()] + replacement + line[match.end():]
                    found.append({"file": path, "line": line, "mutated": mutated})
    return found


def run(command, cwd, timeout):
    try:
        return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def programs_for(mutant, programs, layered):
    """The test programs to build and run for `mutant`, or None for the whole suite."""
    if not layered:
        return programs
    for folder, linked in LAYER_PROGRAMS.items():
        if mutant["file"].startswith(folder + "/"):
            return [name for name in linked if not programs or name in programs]
    return programs


@functools.lru_cache(maxsize=None)
def find_program(build, name):
    for folder, _, files in os.walk(build):
        if name in files and os.access(os.path.join(folder, name), os.X_OK):
            return os.path.join(folder, name)
    return None


def failed_tests(report):
    """Names of the failed tests in a GoogleTest JSON report, or None when there is none."""
    try:
        suites = json.load(open(report))["testsuites"]
    except (OSError, ValueError, KeyError):
        return None
    return [suite["name"] + "." + test["name"] for suite in suites
            for test in suite["testsuite"] if test.get("failures")]


def build_and_test(tree, build, programs, test_timeout, record=None):
    """'caught' or 'survived' when the build succeeds, else 'uncompilable'. With `record` (a
    list), every program runs to its end and the names of the failed tests are added to it
    ("program: crashed" for a program that ended without its report)."""
    if programs is None:
        if run(["cmake", "--build", build, "-j2"], tree, 900) != 0:
            return "uncompilable"
        status = run(["ctest", "--test-dir", build, "-j2", "--timeout", "120",
                      "--stop-on-failure"], tree, test_timeout)
        return "caught" if status != 0 else "survived"
    present = [name for name in programs if find_program(build, name)]
    if present and run(["cmake", "--build", build, "-j2", "--target"] + present, tree, 900) != 0:
        return "uncompilable"
    outcome = "survived"
    for name in present:
        program = find_program(build, name)
        report = os.path.join(build, "mutant-report.json")
        if os.path.exists(report):
            os.remove(report)
        command = [program, "--gtest_brief=1"]
        if record is not None:
            command.append("--gtest_output=json:" + report)
        else:
            command.append("--gtest_fail_fast")
        if run(command, os.path.dirname(program), test_timeout) != 0:
            outcome = "caught"
            if record is None:
                break
            failed = failed_tests(report)
            record.extend(failed if failed else [name + ": crashed"])
    return outcome


def plant(tree, build, mutant, test_timeout, programs, record=None):
    path = os.path.join(tree, mutant["file"])
    original = open(path, encoding="utf-8").read()
    lines = original.split("\n")
    if lines.count(mutant["line"]) != 1:
        return "absent"
    lines[lines.index(mutant["line"])] = mutant["mutated"]
    try:
        open(path, "w", encoding="utf-8").write("\n".join(lines))
        return build_and_test(tree, build, programs, test_timeout, record)
    finally:
        open(path, "w", encoding="utf-8").write(original)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tree", required=True)
    parser.add_argument("--build")
    parser.add_argument("--count", type=int, default=150)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--paths", nargs="+", default=["lib", "app"])
    parser.add_argument("--list")
    parser.add_argument("--out")
    parser.add_argument("--test-timeout", type=int, default=600)
    parser.add_argument("--programs", nargs="+",
                        help="test programs to build and run instead of the whole suite")
    parser.add_argument("--layered", action="store_true",
                        help="run only the programs that link the mutated file's layer")
    parser.add_argument("--headers", action="store_true",
                        help="draw mutants from the headers (.h) under --paths too")
    parser.add_argument("--record-tests", action="store_true",
                        help="with --programs: run them all and record the tests that fail")
    args = parser.parse_args()
    build = args.build or os.path.join(args.tree, "build")
    os.environ["QT_QPA_PLATFORM"] = "offscreen"

    if args.list:
        mutants = json.load(open(args.list))
        mutants = [m["mutant"] if "mutant" in m else m for m in mutants]
    else:
        endings = (".cpp", ".h") if args.headers else (".cpp",)
        pool = candidates(args.tree, args.paths, endings)
        mutants = random.Random(args.seed).sample(pool, min(args.count, len(pool)))
    # Mutants of one file in a row: restoring a file and mutating it again costs one compile.
    mutants.sort(key=lambda mutant: mutant["file"])
    targets = ["--target"] + args.programs if args.programs else []
    if run(["cmake", "--build", build, "-j2"] + targets, args.tree, 3600) != 0:
        sys.exit("the unmutated tree does not build")
    if args.programs and build_and_test(args.tree, build, args.programs, args.test_timeout) != \
            "survived":
        sys.exit("the test programs fail on the unmutated tree")

    results = []
    tally = {}
    for number, mutant in enumerate(mutants, 1):
        started = time.time()
        programs = programs_for(mutant, args.programs, args.layered)
        record = [] if args.record_tests and programs else None
        outcome = plant(args.tree, build, mutant, args.test_timeout, programs, record)
        tally[outcome] = tally.get(outcome, 0) + 1
        results.append({"mutant": mutant, "outcome": outcome})
        if record is not None:
            results[-1]["failed_tests"] = record
        print(f"{number}/{len(mutants)} {outcome:12} {time.time() - started:5.1f}s "
              f"{mutant['file']}: {mutant['line'].strip()} -> {mutant['mutated'].strip()}",
              flush=True)
        if args.out:
            json.dump(results, open(args.out, "w"), indent=1)
    run(["cmake", "--build", build, "-j2"] + targets, args.tree, 3600)
    counted = tally.get("caught", 0) + tally.get("survived", 0)
    print(f"caught {tally.get('caught', 0)} of {counted} planted "
          f"({tally.get('uncompilable', 0)} did not compile, {tally.get('absent', 0)} absent)")


if __name__ == "__main__":
    main()
