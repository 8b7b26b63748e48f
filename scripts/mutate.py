#!/usr/bin/env python3
"""Plants one-line faults in a scratch checkout, one at a time, and counts how many the
test suite catches.

    scripts/mutate.py --tree SCRATCH [--build SCRATCH/build] [--count 150] [--seed 7]
                      [--paths lib app] [--list mutants.json] [--out results.json]
                      [--programs tests/app/engine/kestrel_engine_tests ...]

SCRATCH is a checkout that may be changed (a git worktree); it is restored after every
mutant. Mutants are drawn reproducibly from the .cpp files under --paths: each is a file,
the exact text of one line and its replacement. With --list, the mutants of an earlier run
are planted again where their line still stands exactly once, so that two versions of the
suite can be compared on the same faults. A mutant that does not compile is not counted.
With --programs, only those test programs (paths in the build directory) are built and
run, one after the other, instead of the whole suite through ctest.
"""

import argparse
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
SKIP = re.compile(r"^\s*(//|#|\*|/\*)|static_assert|KS_PRINTF|template\s*<|operator")


def candidates(tree, paths):
    found = []
    for top in paths:
        for folder, _, files in os.walk(os.path.join(tree, top)):
            for name in sorted(files):
                if not name.endswith(".cpp"):
                    continue
                path = os.path.relpath(os.path.join(folder, name), tree)
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


def build_command(build, programs):
    targets = [item for program in programs for item in ("--target", os.path.basename(program))]
    return ["cmake", "--build", build, "-j2"] + targets


def run_tests(tree, build, programs, test_timeout):
    """True when the tests catch the planted fault."""
    if not programs:
        return run(["ctest", "--test-dir", build, "-j2", "--timeout", "120",
                    "--stop-on-failure"], tree, test_timeout) != 0
    return any(run([os.path.join(build, program)], build, test_timeout) != 0
               for program in programs)


def plant(tree, build, mutant, test_timeout, programs):
    path = os.path.join(tree, mutant["file"])
    original = open(path, encoding="utf-8").read()
    lines = original.split("\n")
    if lines.count(mutant["line"]) != 1:
        return "absent"
    lines[lines.index(mutant["line"])] = mutant["mutated"]
    try:
        open(path, "w", encoding="utf-8").write("\n".join(lines))
        if run(build_command(build, programs), tree, 900) != 0:
            return "uncompilable"
        return "caught" if run_tests(tree, build, programs, test_timeout) else "survived"
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
    parser.add_argument("--programs", nargs="+", default=[])
    args = parser.parse_args()
    build = args.build or os.path.join(args.tree, "build")
    os.environ["QT_QPA_PLATFORM"] = "offscreen"

    if args.list:
        mutants = json.load(open(args.list))
        mutants = [m["mutant"] if "mutant" in m else m for m in mutants]
    else:
        pool = candidates(args.tree, args.paths)
        mutants = random.Random(args.seed).sample(pool, min(args.count, len(pool)))
    if run(build_command(build, args.programs), args.tree, 3600) != 0:
        sys.exit("the unmutated tree does not build")

    results = []
    tally = {}
    for number, mutant in enumerate(mutants, 1):
        started = time.time()
        outcome = plant(args.tree, build, mutant, args.test_timeout, args.programs)
        tally[outcome] = tally.get(outcome, 0) + 1
        results.append({"mutant": mutant, "outcome": outcome})
        print(f"{number}/{len(mutants)} {outcome:12} {time.time() - started:5.1f}s "
              f"{mutant['file']}: {mutant['line'].strip()} -> {mutant['mutated'].strip()}",
              flush=True)
        if args.out:
            json.dump(results, open(args.out, "w"), indent=1)
    run(build_command(build, args.programs), args.tree, 3600)
    counted = tally.get("caught", 0) + tally.get("survived", 0)
    print(f"caught {tally.get('caught', 0)} of {counted} planted "
          f"({tally.get('uncompilable', 0)} did not compile, {tally.get('absent', 0)} absent)")


if __name__ == "__main__":
    main()
