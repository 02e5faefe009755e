#!/usr/bin/env bash
# CPU of one Page Down in the real program: the window under Xvfb with openbox, a 600,000-line
# log, Page Down pressed through xdotool as a user would, and the process's CPU time (user +
# system, from /proc) over the presses, less what the same wall time costs it idle (the
# caret's blink). Prints milliseconds per page; BASELINE=<an older quillstream> measures it
# too, in the same run, for a side-by-side figure; PERF=<file> records a profile of the
# presses with perf.
#   bench/page-down.sh [build/bin/quillstream]    (PAGES=... presses, default 2000)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=../tests/support/e2e-session.sh
source tests/support/e2e-session.sh

exe=${1:-build/bin/quillstream}
pages=${PAGES:-2000}
begin_session page-down
log=$work/page-down.log
awk 'BEGIN { for (i = 1; i <= 600000; ++i)
    printf "2026-12-09 03:%02d:%02d.%03d worker-%d INFO request %d served in %d ms from cache\n",
        (i / 60000) % 60, (i / 1000) % 60, i % 1000, i % 8, i, (i * 7) % 500 }' >"$log"

start_display
start_window_manager

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }

measure() { # <executable>: prints ms of CPU per page
    local program=$1 before after idle_before idle_after window
    rm -f "$trace"
    "$program" "$log" >"$work/program.txt" 2>&1 &
    pid=$!
    wait_trace "First lines painted"
    window=$(xdotool search --sync --pid "$pid" --onlyvisible | head -1)
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    xdotool key --window "$window" ctrl+Home
    # The hives were written moments ago; a user's have long settled (platform/HiveStore.h).
    sleep 3
    # The same wall time idle, to take out the caret's blink and the watcher's polls.
    idle_before=$(cpu_ticks)
    local start end
    start=$(date +%s.%N)
    local recorder=
    if [[ -n "${PERF:-}" ]]; then
        perf record -g -o "$PERF" -p "$pid" >/dev/null 2>&1 &
        recorder=$!
        sleep 0.5
    fi
    xdotool key --delay 1 --repeat "$pages" Next
    sleep 0.5
    if [[ -n "$recorder" ]]; then
        kill -INT "$recorder"
        wait "$recorder" || true
    fi
    end=$(date +%s.%N)
    after=$(cpu_ticks)
    before=$idle_before
    idle_before=$(cpu_ticks)
    sleep "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')"
    idle_after=$(cpu_ticks)
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
    local hz
    hz=$(getconf CLK_TCK)
    awk -v b="$before" -v a="$after" -v ib="$idle_before" -v ia="$idle_after" -v n="$pages" \
        -v hz="$hz" 'BEGIN { printf "%.3f", ((a - b) - (ia - ib)) * 1000 / hz / n }'
}

echo "page down ($pages pages of a 600,000-line log): $(measure "$exe") ms of CPU per page"
if [[ -n "${BASELINE:-}" ]]; then
    echo "page down, baseline $BASELINE: $(measure "$BASELINE") ms of CPU per page"
fi
