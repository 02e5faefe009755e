#!/usr/bin/env python3
"""Plants the faults of tests/merged-commands-mutants.txt one at a time, rebuilding only the
tests of each fault's label ("saver": MergedLineSaverTest; "frame": MergedCommandsTest;
"session": TabSessionTest; "instance": InstanceChannelTest and InstanceTest), and
reports which the tests caught. Run from the repository root with a configured build tree
(BUILD, default build); IDs given as arguments run only those. A fault's text may span lines
("\\n"); each file is restored from its copy after every fault, also on Ctrl+C. The test
binaries last built hold the last fault: build the targets again before using them."""
import os
import subprocess
import sys

BUILD = os.environ.get("BUILD", "build")
TARGETS = {
    "saver": ["MergedLineSaverTest"],
    "frame": ["MergedCommandsTest"],
    "session": ["TabSessionTest"],
    "instance": ["InstanceChannelTest", "InstanceTest"],
}

env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
caught = total = 0
for raw in open("tests/merged-commands-mutants.txt"):
    if raw.startswith("#") or not raw.strip():
        continue
    ident, place, text, replacement, label, *note = [f.strip() for f in raw.rstrip("\n").split(" | ")]
    if len(sys.argv) > 1 and ident not in sys.argv[1:]:
        continue
    text = text.replace("\\n", "\n")
    replacement = replacement.replace("\\n", "\n")
    path = place.split(":")[0]
    original = open(path).read()
    assert original.count(text) == 1, ident
    try:
        open(path, "w").write(original.replace(text, replacement))
        log = open(f"/tmp/merged-commands-mutant-{ident}.log", "w")
        targets = TARGETS[label]
        if subprocess.run(["nice", "-n", "5", "cmake", "--build", BUILD, "-j", "2", "--target", *targets],
                          stdout=log, stderr=log).returncode != 0:
            result = "caught (build)"
        elif any(subprocess.run([os.path.join(BUILD, "bin", t)], stdout=log, stderr=log, env=env,
                                timeout=300).returncode != 0 for t in targets):
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
