#!/usr/bin/env python3
"""Plants the faults of tests/TOPIC-mutants.txt one at a time, rebuilds only the tests of each
fault's label and reports which the tests caught:

    tests/run-mutants.py TOPIC [ID...]

Run from the repository root with a configured build tree (BUILD, default build); IDs given
run only those. The file names the tests of each label in a line
"# targets: LABEL=Test[,Test...] ...", where a test may carry a GoogleTest filter
(Test:--gtest_filter=*Case*). A fault's line reads
"ID | path:line | text | replacement | label | note"; its text may span lines ("\\n") and is
looked for in the whole file, or on the line given where it stands more than once. Each file
is restored from its copy after every fault, also on Ctrl+C. The test binaries last built hold
the last fault: build the targets again before using them."""
import os
import subprocess
import sys

if len(sys.argv) < 2:
    sys.exit(__doc__)
topic, wanted = sys.argv[1], set(sys.argv[2:])
BUILD = os.environ.get("BUILD", "build")
faults = open(f"tests/{topic}-mutants.txt").read().split("\n")
targets = {}
for raw in faults:
    if raw.startswith("# targets:"):
        for entry in raw[len("# targets:"):].split():
            label, tests = entry.split("=", 1)
            targets[label] = [test.split(":", 1) for test in tests.split(",")]
if not targets:
    sys.exit(f"tests/{topic}-mutants.txt names no targets (# targets: LABEL=Test,...)")

env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
caught = total = 0
for raw in faults:
    if raw.startswith("#") or not raw.strip():
        continue
    ident, place, text, replacement, label, *note = [f.strip() for f in raw.split(" | ")]
    if wanted and ident not in wanted:
        continue
    text = text.replace("\\n", "\n")
    replacement = replacement.replace("\\n", "\n")
    path, _, line = place.partition(":")
    original = open(path).read()
    if original.count(text) == 1:
        mutated = original.replace(text, replacement)
    else:
        lines = original.split("\n")
        at = int(line) - 1
        assert lines[at].count(text) == 1, (ident, lines[at])
        lines[at] = lines[at].replace(text, replacement)
        mutated = "\n".join(lines)
    tests = targets[label]
    try:
        open(path, "w").write(mutated)
        log = open(f"/tmp/{topic}-mutant-{ident}.log", "w")
        build = ["nice", "-n", "5", "cmake", "--build", BUILD, "-j", "2", "--target"]
        if subprocess.run(build + [t[0] for t in tests], stdout=log, stderr=log).returncode != 0:
            result = "caught (build)"
        elif any(subprocess.run([os.path.join(BUILD, "bin", t[0]), *t[1:]], stdout=log,
                                stderr=log, env=env, timeout=300).returncode != 0 for t in tests):
            result = "caught"
        else:
            result = "SURVIVED"
    except subprocess.TimeoutExpired:
        result = "caught (hang)"
    finally:
        open(path, "w").write(original)
    total += 1
    caught += result != "SURVIVED"
    print(f"{ident:5} {result:15} {note[0] if note else ''}", flush=True)
print(f"{caught} of {total} caught")
