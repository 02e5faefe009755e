#!/usr/bin/env bash
# A rotated set of five files (two of them gzip-compressed) against the same bytes opened as
# one file: the seconds until the document holds all of it, by the wall clock and in
# processor time, and the decompression of the compressed members on its own.
#   bench/rotated.sh     (BENCH_MIB=... total size, default 1024; BENCH_BUILD=... tree)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD:-build-bench}
mib=${BENCH_MIB:-1024}
work=${BENCH_DIR:-${TMPDIR:-/tmp}/quill-rotated-bench-${mib}m}
mkdir -p "$work/set" "$work/spool"
chmod 700 "$work/spool" # a spool folder open to others is refused

if [[ ! -x "$build/bin/quill_rotated_bench" || -z "${BENCH_BUILD:-}" ]]; then
    cmake -S . -B "$build" -G Ninja -Wno-dev -DQUILL_GUI=OFF -DQUILL_TESTS=OFF -DQUILL_BENCH=ON \
        -DCMAKE_BUILD_TYPE=Release ${BENCH_CMAKE_ARGS:-} >/dev/null
fi
cmake --build "$build" --target quill_rotated_bench quill_decompress_bench >/dev/null
bench="$build/bin/quill_rotated_bench"

whole=$work/whole.log
if [[ ! -s "$whole" ]]; then
    echo "generating $whole ($mib MiB) and its five parts"
    awk -v bytes=$((mib * 1048576)) 'BEGIN {
        srand(42); split("INFO WARN ERROR DEBUG", level, " ");
        while (written < bytes) {
            line = sprintf("2026-12-08T10:%02d:%02d.%03d %s worker-%d request %d took %d ms path /api/v1/items/%d",
                           int(rand() * 60), int(rand() * 60), int(rand() * 1000), level[int(rand() * 4) + 1],
                           int(rand() * 97), int(rand() * 1e9), int(rand() * 5000), int(rand() * 1e6));
            print line; written += length(line) + 1 } }' >"$whole"
    (cd "$work/set" && split -n l/5 -d -a 1 "$whole" part.)
    gzip -c "$work/set/part.0" >"$work/set/app.log.4.gz"
    gzip -c "$work/set/part.1" >"$work/set/app.log.3.gz"
    mv "$work/set/part.2" "$work/set/app.log.2"
    mv "$work/set/part.3" "$work/set/app.log.1"
    mv "$work/set/part.4" "$work/set/app.log"
    rm -f "$work/set/part."*
fi
cat "$whole" "$work/set/"* >/dev/null # both from the page cache

echo "load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
for _ in 1 2 3; do
    "$bench" one "$whole"
    "$bench" set "$work/spool" "$work/set/app.log"
done
echo "decompression alone:"
for member in app.log.4.gz app.log.3.gz; do
    "$build/bin/quill_decompress_bench" "$work/set/$member" 1
done
echo "spool: $(du -sh "$work/spool" | cut -f1) left (removed with each run's source)"
