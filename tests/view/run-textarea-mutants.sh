#!/bin/sh
# Plants the faults of tests/textarea-mutants.txt one at a time, rebuilding only the tests
# their label names (view: the text area's own; frame: the filter pane's and the follow model's), and reports which the
# tests caught. Run from the repository root with a configured build tree (default: build);
# IDs given as arguments run only those.
set -u
build=${BUILD:-build}
file=tests/textarea-mutants.txt
caught=0
total=0
export QT_QPA_PLATFORM=offscreen
grep -v '^#' "$file" | grep -v '^$' | while IFS='|' read -r id place text replacement label note; do
    id=$(echo "$id" | xargs)
    path=$(echo "$place" | xargs | cut -d: -f1)
    line=$(echo "$place" | xargs | cut -d: -f2)
    label=$(echo "$label" | xargs)
    if [ $# -gt 0 ] && ! echo " $* " | grep -q " $id "; then
        continue
    fi
    cp "$path" "$path.orig"
    ID="$id" LINE="$line" TEXT="$text" REPLACEMENT="$replacement" FILE="$path" python3 - <<'PY'
import os
path, line = os.environ["FILE"], int(os.environ["LINE"])
text, replacement = os.environ["TEXT"].strip(), os.environ["REPLACEMENT"].strip()
lines = open(path).read().split("\n")
assert lines[line - 1].count(text) == 1, (os.environ["ID"], lines[line - 1])
lines[line - 1] = lines[line - 1].replace(text, replacement)
open(path, "w").write("\n".join(lines))
PY
    if [ "$label" = frame ]; then
        targets="FilterViewTest FilterPaneTest FollowModelTest"
        tests="FilterViewTest|FilterPaneTest|FollowModelTest"
    else
        targets="TextAreaTest FilterViewTest"
        tests="TextAreaTest|FilterViewTest"
    fi
    if ! nice -n 5 cmake --build "$build" -j 2 --target $targets >/tmp/mutant-$id.log 2>&1; then
        result="caught (build)"
    elif ctest --test-dir "$build" -R "$tests" -j2 --stop-on-failure --timeout 120 >>/tmp/mutant-$id.log 2>&1; then
        result="SURVIVED"
    else
        result="caught"
    fi
    mv "$path.orig" "$path"
    touch "$path"
    echo "$id	$result	$note"
done
