#!/usr/bin/env bash
# What the real program costs while nothing happens: the window under Xvfb with openbox,
# focused (its caret may blink), following 1 and 20 quiet files, one tab each. Over
# SECONDS_IDLE (default 20) after a settling pause (SETTLE, default 12: the caret rests 10 s
# after the last input) it counts the CPU time of every thread (schedstat,
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

# One line a thread alive now: id, CPU nanoseconds, context switches, name.
sample() {
    local task
    for task in /proc/"$pid"/task/*; do
        awk -v t="${task##*/}" -v cpu="$(awk '{ print $1 }' "$task/schedstat" 2>/dev/null)" '
            /^Name:/ { name = $2 }
            /^voluntary_ctxt_switches|^nonvoluntary_ctxt_switches/ { n += $2 }
            END { if (cpu != "") print t, cpu, n, name }' "$task/status" 2>/dev/null || true
    done
}

# What the threads did between two samples: a thread that ended meanwhile is counted up to
# the first sample only (its last moments are lost, so a figure can only be too low by them),
# one that began is counted whole. VERBOSE=1 lists the threads.
difference() { # <before file> <after file> <seconds>
    awk -v s="$3" -v verbose="${VERBOSE:-0}" '
        NR == FNR { cpu[$1] = $2; sw[$1] = $3; next }
        { c = $2 - cpu[$1]; w = $3 - sw[$1]; tc += c; tw += w; seen[$1] = 1
          if (verbose) printf "  thread %s %-16s cpu_ms %.2f switches %d\n", $1, $4, c / 1e6, w > "/dev/stderr" }
        END { for (t in cpu) if (!(t in seen)) ended++
              printf "%.4f %.2f %d", tc / 1e7 / s, tw / s, ended }' "$1" "$2"
}

measure() { # <executable> <tabs>: prints "cpu_percent wakeups_per_second ended threads"
    local program=$1 tabs=$2 files=() window threads
    for i in $(seq 1 "$tabs"); do
        files+=("$work/logs/quiet-$i.log")
    done
    rm -f "$trace"
    "$program" -- "${files[@]}" >"$work/program.txt" 2>&1 &
    pid=$!
    wait_trace "First lines painted"
    window=$(xdotool search --sync --pid "$pid" --onlyvisible | head -1)
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    # The hives were written moments ago, the tabs' watchers just started, the caret blinks.
    sleep "${SETTLE:-12}"
    threads=$(ls /proc/"$pid"/task | wc -l)
    sample >"$work/before.txt"
    sleep "$seconds"
    sample >"$work/after.txt"
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
    echo "$(difference "$work/before.txt" "$work/after.txt" "$seconds") $threads"
}

report() { # <label> <tabs> <executable>
    local r
    read -r -a r <<<"$(measure "$3" "$2")"
    printf '%-10s tabs=%-2d idle_cpu_percent %s wakeups_per_second %s threads %s ended %s\n' \
        "$1" "$2" "${r[0]}" "${r[1]}" "${r[3]}" "${r[2]}"
}

for _ in $(seq 1 "$rounds"); do
    for tabs in 1 20; do
        report this "$tabs" "$exe"
        if [[ -n "${BASELINE:-}" ]]; then
            report baseline "$tabs" "$BASELINE"
        fi
    done
done
