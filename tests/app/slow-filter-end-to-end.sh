#!/usr/bin/env bash
# End-to-end run of a filter whose pattern backtracks for seconds on every line: `(.*a){20}`
# with Regular expression ticked, on 2,000 lines of 10 kB that each hold 19 a's. While the
# pass runs, Ctrl+Q, SIGTERM and SIGINT each end the real program, and Escape followed by a
# plain filter shows that plain filter's result; none waits for the pass. The limits are
# safety nets against a hang (the pass itself would take minutes without them), not
# timings; bench/ measures how soon each takes effect.
#
# usage: slow-filter-end-to-end.sh /path/to/quillstream
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$1
begin_session slow-filter-e2e
log=$work/wide.log
hive=$XDG_CONFIG_HOME/quillstream/user.reg
python3 - "$log" <<'PY'
import random, sys
rng = random.Random(306)
with open(sys.argv[1], "w") as out:
    for _ in range(2000):
        line = ["b"] * 10000
        for place in rng.sample(range(10000), 19):
            line[place] = "a"
        out.write("".join(line) + "\n")
PY

start_display
start_window_manager

keys() { xdotool key --clearmodifiers "$@"; }

# The recent filters in the user hive, as "text regex" (1 or 0), one a line.
recent_filters() {
    tr -d '\r' <"$hive" 2>/dev/null | awk '
        /^\[/ { recent = index($0, "\\Quillstream\\Filter\\Recent\\") > 0 }
        recent && /^"SearchString"="/ { sub(/^"SearchString"="/, ""); sub(/"$/, ""); text = $0 }
        recent && /^"RegularExpression"=dword:/ { print text, substr($0, length($0)) }'
}

# Starts the program on the log and sets the slow filter with the keyboard: Ctrl+Shift+F,
# Tab past "+", Match case and Whole word to Regular expression, Space, back to the field,
# the pattern, Enter (which keeps it among the recent filters, with its options).
start_slow_filter() {
    rm -f "$hive" # a new window's options start unticked; the list starts empty with them
    "$exe" "$log" >"$work/out.txt" 2>&1 &
    pid=$!
    wait_trace "Opened $log: 2000 lines"
    wait_trace "First lines painted"
    window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" --name "Quillstream" | head -1)
    [[ -n "$window" ]] || fail "no program window"
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
    keys ctrl+shift+f Tab Tab Tab Tab space ctrl+shift+f
    xdotool type --delay 20 '(.*a){20}'
    keys Return
    for _ in $(seq 1 50); do
        recent_filters | grep -qxF '(.*a){20} 1' && break
        sleep 0.1
    done
    recent_filters | grep -qxF '(.*a){20} 1' || fail "the filter was not set as a regular expression"
    sleep 1 # well inside the pass: its first chunk alone takes over a second
}

# Waits (a safety limit) for the program to end by itself, as it must after a request to.
expect_end() { # <what>
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "$1 did not end the program while the filter ran"
    wait "$pid" || fail "the program did not end cleanly after $1"
    pid=
}

start_slow_filter
keys ctrl+q
expect_end "Ctrl+Q"

start_slow_filter
kill -TERM "$pid"
expect_end "SIGTERM"

start_slow_filter
kill -INT "$pid"
expect_end "SIGINT"

# Escape ends the pass and closes the pane (the options stay as they were, so Space unticks
# Regular expression); a plain filter is then taken, and the program still answers the
# window manager's close.
start_slow_filter
keys ctrl+shift+f Escape ctrl+shift+f Tab Tab Tab Tab space ctrl+shift+f
xdotool type --delay 20 'bbb'
keys Return
for _ in $(seq 1 50); do
    recent_filters | grep -qxF 'bbb 0' && break
    sleep 0.1
done
recent_filters | grep -qxF 'bbb 0' || fail "a plain filter after Escape was not taken"
keys alt+F4
expect_end "closing the window"
echo "slow filter end-to-end: ok"
