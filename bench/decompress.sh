#!/usr/bin/env bash
# Decompression speed of the engine's readers against zcat, bzcat, xzcat and zstdcat, each
# writing to /dev/null, on a generated log compressed by each tool at its default level.
# Not part of the test command; compressing the log with bzip2 and xz takes minutes.
#   bench/decompress.sh        (BENCH_MIB=... log size, default 1024; BENCH_BUILD=... tree)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD:-build-bench}
mib=${BENCH_MIB:-1024}
work=${BENCH_DIR:-${TMPDIR:-/tmp}/quill-decompress-bench-${mib}m}
mkdir -p "$work"

cmake -S . -B "$build" -G Ninja -Wno-dev -DQUILL_GUI=OFF -DQUILL_TESTS=OFF -DQUILL_BENCH=ON \
    -DCMAKE_BUILD_TYPE=Release ${BENCH_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --target quill_decompress_bench >/dev/null
bench="$build/bin/quill_decompress_bench"

log=$work/bench.log
if [[ ! -s "$log" ]]; then
    echo "generating $log ($mib MiB)"
    awk -v bytes=$((mib * 1048576)) 'BEGIN {
        srand(24); split("INFO WARN ERROR DEBUG", level, " ");
        while (written < bytes) {
            line = sprintf("2026-12-08T10:%02d:%02d.%03d %s worker-%d request %d took %d ms path /api/v1/items/%d",
                           int(rand() * 60), int(rand() * 60), int(rand() * 1000), level[int(rand() * 4) + 1],
                           int(rand() * 97), int(rand() * 1e9), int(rand() * 5000), int(rand() * 1e6));
            print line; written += length(line) + 1 } }' >"$log"
fi

best() { # <command...>: best of three runs: "wall_seconds cpu_seconds"
    local b= c= t u out
    for _ in 1 2 3; do
        out=$( { /usr/bin/time -f "%e %U %S" "$@" >/dev/null; } 2>&1 | tail -1)
        t=$(awk '{ print $1 }' <<<"$out")
        u=$(awk '{ printf "%.3f", $2 + $3 }' <<<"$out")
        if [[ -z "$b" ]] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
        if [[ -z "$c" ]] || awk -v t="$u" -v b="$c" 'BEGIN { exit !(t < b) }'; then c=$u; fi
    done
    echo "$b $c"
}

# Ratios are the peer's time over ours: 1.0 is as fast, above is faster. Processor time
# (user + system) is the steadier figure on a shared machine; wall time is shown beside it.
printf '%-6s %9s %9s %7s %9s %9s %7s\n' format quill_s peer_s ratio quill_cpu peer_cpu ratio
for entry in "gzip .gz zcat" "bzip2 .bz2 bzcat" "xz .xz xzcat" "zstd .zst zstdcat"; do
    read -r tool suffix peer <<<"$entry"
    archive=$log$suffix
    [[ -s "$archive" ]] || "$tool" -c "$log" >"$archive"
    cat "$archive" >/dev/null
    read -r _ ours _ _ _ _ ours_cpu _ < <("$bench" "$archive" 3)
    read -r theirs theirs_cpu < <(best "$peer" "$archive")
    printf '%-6s %9s %9s %7s %9s %9s %7s\n' "$tool" "$ours" "$theirs" \
        "$(awk -v o="$ours" -v t="$theirs" 'BEGIN { printf "%.2f", t / o }')" \
        "$ours_cpu" "$theirs_cpu" \
        "$(awk -v o="$ours_cpu" -v t="$theirs_cpu" 'BEGIN { printf "%.2f", t / o }')"
done
