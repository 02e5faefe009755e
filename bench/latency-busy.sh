#!/usr/bin/env bash
# Write-to-screen latency of the real window (quill_gui_bench's FollowLatency: a line written
# to the paint that shows it at the window's bottom, 200 lines at random pauses) on a quiet
# and on a busy machine, without and with the filter pane (a filter that backtracks).
#
# "Busy" is HOGS processes that spin: once in sessions of their own, as the other programs of
# a desktop run beside a window started from its menu, and once in this script's own session,
# as jobs started from the terminal that started the window. Linux shares the processors
# between sessions first (autogroups, /proc/sys/kernel/sched_autogroup_enabled) and only
# then between the processes of one session, so the second case halves what the window gets
# with every hog and measures the scheduler rather than the program.
#   bench/latency-busy.sh [build/bin/quill_gui_bench]
set -euo pipefail
cd "$(dirname "$0")/.."
bench=${1:-build/bin/quill_gui_bench}
hogs=${HOGS:-3}
export QT_QPA_PLATFORM=offscreen

pids=()
stop_hogs() {
    if ((${#pids[@]})); then
        kill "${pids[@]}" 2>/dev/null || true
        wait "${pids[@]}" 2>/dev/null || true
    fi
    pids=()
}
trap stop_hogs EXIT
start_hogs() { # <own|shared>
    local i
    for ((i = 0; i < hogs; ++i)); do
        if [[ $1 == own ]]; then
            setsid bash -c 'while :; do :; done' &
        else
            bash -c 'while :; do :; done' &
        fi
        pids+=($!)
    done
    sleep 1
}

measure() { # <label>
    local filter line
    for filter in 0 1; do
        line=$("$bench" --benchmark_filter="FollowLatency/backtracking_filter:$filter/pipe:0" \
            2>/dev/null | grep '^FollowLatency' || true)
        printf '%-34s filter pane %s  load %-5s median %s ms  p95 %s ms\n' "$1" "$filter" \
            "$(cut -d' ' -f1 /proc/loadavg)" \
            "$(grep -o ' median_ms=[0-9.]*' <<<"$line" | cut -d= -f2)" \
            "$(grep -o ' p95_ms=[0-9.]*' <<<"$line" | cut -d= -f2)"
    done
}

measure "quiet"
start_hogs own
measure "$hogs hogs in sessions of their own"
stop_hogs
start_hogs shared
measure "$hogs hogs in this session"
stop_hogs
