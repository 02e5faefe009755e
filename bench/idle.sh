#!/usr/bin/env bash
# What the real program costs while nothing happens: the window under Xvfb with openbox,
# focused (its caret may blink), following 1 and 20 quiet files, one tab each. Over SECONDS
# (default 20) after a settling pause it counts the CPU time of every thread (schedstat,
# nanoseconds) and the times the threads were switched in (voluntary and involuntary context
# switches: one a wake-up), and prints the share of a core and the wake-ups per second.
# BASELINE=<another quillstream> is measured too, alternating with it, ROUNDS times
# (default 3), so that a busy machine weighs on both alike.
#   bench/idle.sh [build/bin/quillstream]
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=../tests/support/e2e-session.sh
source tests/support/e2e-session.sh

exe=${1:-build/bin/quillstream}
seconds=${SECONDS_IDLE:-20}
rounds=${ROUNDS:-3}
begin_session idle
mkdir -p "$work/logs"
for i in $(seq 1 20); do
    awk -v t="$i" 'BEGIN { for (n = 1; n <= 2000; ++n)
        printf "2026-12-10 04:%02d:%02d.000 tab-%d INFO quiet line %d\n", (n / 60) % 60, n % 60, t, n }' \
        >"$work/logs/quiet-$i.log"
done

start_display
start_window_manager

# Sums over the threads alive now: CPU nanoseconds, then context switches.
sample() {
    local cpu=0 switches=0 task s v n
    for task in /proc/"$pid"/task/*; do
        s=$(awk '{ print $1 }' "$task/schedstat" 2>/dev/null) || continue
        v=$(awk '/^voluntary_ctxt_switches/ { print $2 }' "$task/status" 2>/dev/null) || continue
        n=$(awk '/^nonvoluntary_ctxt_switches/ { print $2 }' "$task/status" 2>/dev/null) || continue
        cpu=$((cpu + s))
        switches=$((switches + v + n))
    done
    echo "$cpu $switches"
}

measure() { # <executable> <tabs>: prints "cpu_percent wakeups_per_second threads"
    local program=$1 tabs=$2 files=() before after window threads
    for i in $(seq 1 "$tabs"); do
        files+=("$work/logs/quiet-$i.log")
    done
    rm -f "$trace"
    "$program" -- "${files[@]}" >"$work/program.txt" 2>&1 &
    pid=$!
    wait_trace "First lines painted"
    window=$(xdotool search --sync --pid "$pid" --onlyvisible | head -1)
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    # The hives were written moments ago, the tabs' watchers just started.
    sleep 5
    threads=$(ls /proc/"$pid"/task | wc -l)
    before=$(sample)
    sleep "$seconds"
    after=$(sample)
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
    awk -v b="$before" -v a="$after" -v s="$seconds" -v t="$threads" 'BEGIN {
        split(b, x, " "); split(a, y, " ")
        printf "%.4f %.2f %d", (y[1] - x[1]) / 1e7 / s, (y[2] - x[2]) / s, t }'
}

report() { # <label> <tabs> <executable>
    local r
    r=($(measure "$3" "$2"))
    printf '%-10s tabs=%-2d idle_cpu_percent %s wakeups_per_second %s threads %s\n' \
        "$1" "$2" "${r[0]}" "${r[1]}" "${r[2]}"
}

for round in $(seq 1 "$rounds"); do
    for tabs in 1 20; do
        report this "$tabs" "$exe"
        if [[ -n "${BASELINE:-}" ]]; then
            report baseline "$tabs" "$BASELINE"
        fi
    done
done
