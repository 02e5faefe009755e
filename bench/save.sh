#!/usr/bin/env bash
# Save Lines As against grep: the filter's result for TEXT saved to a file by the engine
# (quill_bench save), and `grep -F TEXT FILE > OUT` on the same log, run alternately so
# that the machine's noise falls on both alike. Prints each run and the medians. The save
# flushes its file to the disk before it renames it into place (a crash never leaves half a
# file); grep does not, so `grep + sync` (grep, then sync of its file) is timed too.
#   bench/save.sh [TEXT...]     (default: ERROR, about a fifth of the lines, and " ", all)
#   BENCH_FILE=... BENCH_MIB=... BENCH_ROUNDS=... BENCH_BUILD=...
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD:-build-bench}
mib=${BENCH_MIB:-1024}
file=${BENCH_FILE:-${TMPDIR:-/tmp}/quill-bench-${mib}m.log}
rounds=${BENCH_ROUNDS:-5}
if [[ $# -gt 0 ]]; then texts=("$@"); else texts=("ERROR" " "); fi

cmake -S . -B "$build" -G Ninja -Wno-dev -DQUILL_GUI=OFF -DQUILL_TESTS=OFF -DQUILL_BENCH=ON \
    -DCMAKE_BUILD_TYPE=Release ${BENCH_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --target quill_bench >/dev/null
bench="$build/bin/quill_bench"
if [[ ! -s "$file" ]]; then
    echo "generating $file ($mib MiB)"
    "$bench" generate "$file" "$mib"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/quill-save-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

warm() { cat "$file" >/dev/null; sync; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }
value() { awk -v k="$1" '$1 == k { print $2 }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
spread() { sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%s-%s", lo, hi }'; }

echo "file: $file ($(stat -c %s "$file") bytes), $rounds rounds each, alternating"
for text in "${texts[@]}"; do
    : >"$work/ours.times"; : >"$work/grep.times"; : >"$work/grepsync.times"
    for round in $(seq "$rounds"); do
        warm
        out=$("$bench" save "$file" "$text" "$work/ours.log")
        echo "$out" | value save_seconds >>"$work/ours.times"
        bytes=$(echo "$out" | value save_bytes)
        warm
        start=$(now)
        LC_ALL=C grep -F -- "$text" "$file" >"$work/grep.log" || true
        end=$(now)
        elapsed "$start" "$end" >>"$work/grep.times"
        if [[ $round -eq 1 ]] && ! cmp -s "$work/ours.log" "$work/grep.log"; then
            echo "the saved file differs from grep's output" >&2
            exit 1
        fi
        rm -f "$work/grep.log"
        warm
        start=$(now)
        LC_ALL=C grep -F -- "$text" "$file" >"$work/grep.log" || true
        sync "$work/grep.log"
        end=$(now)
        elapsed "$start" "$end" >>"$work/grepsync.times"
        rm -f "$work/grep.log" "$work/ours.log"
        echo "  '$text' round $round: save $(tail -1 "$work/ours.times")s" \
             "(filter before it $(echo "$out" | value save_filter_seconds)s)," \
             "grep $(tail -1 "$work/grep.times")s, grep + sync $(tail -1 "$work/grepsync.times")s"
    done
    o=$(median <"$work/ours.times"); g=$(median <"$work/grep.times"); s=$(median <"$work/grepsync.times")
    echo "'$text': $bytes bytes saved; median save ${o}s ($(spread <"$work/ours.times"))," \
         "grep ${g}s ($(spread <"$work/grep.times")), grep + sync ${s}s" \
         "($(spread <"$work/grepsync.times")); save/grep $(awk -v a="$o" -v b="$g" \
         'BEGIN { printf "%.2f", a / b }'), save/(grep + sync) $(awk -v a="$o" -v b="$s" \
         'BEGIN { printf "%.2f", a / b }')"
done
