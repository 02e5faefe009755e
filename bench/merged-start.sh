#!/usr/bin/env bash
# Start-up of two logs merged by time in the real program (quillstream --merge) under Xvfb:
# seconds from the start to the first painted merged rows (the end of both logs, as the view
# follows), then to the whole order, each with the program's CPU seconds (user + system,
# from /proc) and the machine's load, since the machine may be shared. The logs are made by
# the engine's generator (quill_bench generate; the second a copy of the first, so their lines
# take turns at equal times) and read through once first, so the page cache serves them.
#   bench/merged-start.sh [build/bin/quillstream] [build/bin/quill_bench]
#   (MIB=... each log's size, default 1024; LOGS=<folder> keeps the logs between runs)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=../tests/support/e2e-session.sh
source tests/support/e2e-session.sh

exe=$(realpath "${1:-build/bin/quillstream}")
generator=$(realpath "${2:-build/bin/quill_bench}")
mib=${MIB:-1024}
begin_session merged-start
logs=${LOGS:-$work}
mkdir -p "$logs"
[[ -s "$logs/a.log" ]] || "$generator" generate "$logs/a.log" "$mib"
[[ -s "$logs/b.log" ]] || cp "$logs/a.log" "$logs/b.log"
cat "$logs/a.log" "$logs/b.log" >/dev/null

start_display

cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$pid/stat"; }
now() { date +%s.%N; }
# Waits for a trace line (at most `limit` seconds); prints the seconds since `start`.
when_traced() { # <pattern> <limit>
    local end
    end=$(echo "$(now) + $2" | bc)
    until [[ -f "$trace" ]] && tr -d '\r' <"$trace" | grep -aqE "$1"; do
        kill -0 "$pid" 2>/dev/null || fail "the program ended while waiting for: $1"
        (($(echo "$(now) > $end" | bc))) && fail "no trace line matching: $1"
        sleep 0.02
    done
    echo "$(now) - $start" | bc
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
start=$(now)
"$exe" --merge "$logs/a.log" "$logs/b.log" >"$work/program.txt" 2>&1 &
pid=$!
first=$(when_traced "First merged lines painted" 120)
first_cpu=$(cpu_seconds)
echo "first merged rows painted: ${first} s (program cpu ${first_cpu} s)"
whole=$(when_traced "Merged in full" 1200)
whole_cpu=$(cpu_seconds)
echo "whole order merged: ${whole} s (program cpu ${whole_cpu} s)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
tr -d '\r' <"$trace" | grep -aE "First merged|Merged in full" || true
