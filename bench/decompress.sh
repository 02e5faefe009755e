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

best() { # <command...>: best wall time of three runs, in seconds
    local b= t start end
    for _ in 1 2 3; do
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        if [[ -z "$b" ]] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
    done
    echo "$b"
}

printf '%-6s %10s %10s %8s\n' format quill_s peer_s ratio
for entry in "gzip .gz zcat" "bzip2 .bz2 bzcat" "xz .xz xzcat" "zstd .zst zstdcat"; do
    read -r tool suffix peer <<<"$entry"
    archive=$log$suffix
    [[ -s "$archive" ]] || "$tool" -c "$log" >"$archive"
    cat "$archive" >/dev/null
    ours=$("$bench" "$archive" 3 | awk '{ print $2 }')
    theirs=$(best "$peer" "$archive")
    # The ratio is the peer's time over ours: 1.0 is as fast, above is faster.
    printf '%-6s %10s %10s %8s\n' "$tool" "$ours" "$theirs" \
        "$(awk -v o="$ours" -v t="$theirs" 'BEGIN { printf "%.2f", t / o }')"
done
