#!/usr/bin/env python3
"""Plants the faults of tests/details-mutants.txt one at a time, rebuilding only the tests of
each fault's label ("details": JsonTextTest and LineDetailsTest; "details-pane":
LineDetailsPaneTest), and reports which the tests caught. Run from the repository root with a
configured build tree (BUILD, default build); IDs given as arguments run only those. Each file
is restored from its copy after every fault, also on Ctrl+C."""
import os
import subprocess
import sys

BUILD = os.environ.get("BUILD", "build")
TARGETS = {"details": ["JsonTextTest", "LineDetailsTest"], "details-pane": ["LineDetailsPaneTest"]}

env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
caught = total = 0
for raw in open("tests/details-mutants.txt"):
    if raw.startswith("#") or not raw.strip():
        continue
    ident, place, text, replacement, label, *note = [f.strip() for f in raw.rstrip("\n").split(" | ")]
    if len(sys.argv) > 1 and ident not in sys.argv[1:]:
        continue
    path, line = place.split(":")
    original = open(path).read()
    lines = original.split("\n")
    assert lines[int(line) - 1].count(text) == 1, (ident, lines[int(line) - 1])
    lines[int(line) - 1] = lines[int(line) - 1].replace(text, replacement)
    try:
        open(path, "w").write("\n".join(lines))
        log = open(f"/tmp/details-mutant-{ident}.log", "w")
        targets = TARGETS[label]
        if subprocess.run(["nice", "-n", "5", "cmake", "--build", BUILD, "-j", "2", "--target", *targets],
                          stdout=log, stderr=log).returncode != 0:
            result = "caught (build)"
        elif subprocess.run(["ctest", "--test-dir", BUILD, "-R", "|".join(targets), "-j2",
                             "--stop-on-failure", "--timeout", "120"],
                            stdout=log, stderr=log, env=env).returncode != 0:
            result = "caught"
        else:
            result = "SURVIVED"
    finally:
        open(path, "w").write(original)
    total += 1
    caught += result != "SURVIVED"
    print(f"{ident:5} {result:15} {note[0] if note else ''}", flush=True)
print(f"{caught} of {total} caught")
