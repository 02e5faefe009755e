#!/usr/bin/env bash
# End-to-end run of the real program under Xvfb with a window manager (openbox, when
# installed), with a private temporary folder and private configuration folders: open a
# file, append lines and see them arrive, truncate the file and see it read again, check the
# window title, close with SIGTERM, then check the stored window position, the recent file
# list and the trace log (LogLevel 3 from the machine hive). A second run starts from the
# stored position and must store the same place and size: a frame drawn by the window
# manager must neither move the window nor make it grow at every start.
#
# usage: end-to-end.sh /path/to/quillstream
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$1
begin_session e2e

hive=$XDG_CONFIG_HOME/quillstream/user.reg
log="$work/watched file.log"
for i in 1 2 3 4 5; do echo "2026-12-07 10:00:0$i INFO start-up step $i"; done >"$log"

hive_value() { # <name> -> the dword value as a signed decimal, or empty
    local hex
    hex=$(tr -d '\r' <"$hive" | sed -n "s/^\"$1\"=dword:\([0-9a-f]*\)$/\1/p" | tail -1)
    [[ -n "$hex" ]] && echo $(( (16#$hex ^ 0x80000000) - 0x80000000 ))
}

# A display of our own, with a window manager on it.
start_display
start_window_manager

run_program() {
    "$exe" "$log" >"$work/out.txt" 2>&1 &
    pid=$!
}

terminate() { # <signal>: ends the program as a desktop session or a service manager would
    kill "-$1" "$pid"
    wait "$pid" || fail "the program did not end cleanly after SIG$1"
    pid=
}

# The title as the window manager shows it (_NET_WM_NAME of the program's window).
window_title() {
    local id
    id=$(xwininfo -root -tree 2>/dev/null | grep -F '"Quillstream - ' | head -1 | awk '{print $1}')
    [[ -n "$id" ]] && xprop -id "$id" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME([A-Z0-9_]*) = "\(.*\)"$/\1/p'
}

# --- first run ---------------------------------------------------------------------------
run_program
wait_trace "Quillstream was started"
wait_trace "Opened $log: 5 lines"

for i in 6 7 8; do echo "2026-12-07 10:00:0$i ERROR step $i failed"; done >>"$log"
wait_trace "File appended: 8 lines"

# Truncated in place and written again, as a logger that restarts does.
printf 'after truncation 1\nafter truncation 2\n' >"$log"
wait_trace "Reloading $log"
# The watcher may see the file empty between the truncation and the write: then the re-open
# shows no lines and the two arrive as an append.
wait_trace "Opened $log: 2 lines|File appended: 2 lines"

echo "one more" >>"$log"
wait_trace "File appended: 3 lines"

# The document title once, without the program's name appended a second time.
for i in $(seq 1 100); do title=$(window_title || true); [[ -n "$title" ]] && break; sleep 0.1; done
[[ "$title" == "Quillstream - Version "*"  -  $log" ]] || fail "window title: '$title'"

terminate TERM
tr -d '\r' <"$trace" | grep -q "ExitInstance" || fail "no ExitInstance line"

# --- what the first run left -------------------------------------------------------------
[[ -f "$hive" ]] || fail "no user hive written"
left=$(hive_value WindowPosLeft); top=$(hive_value WindowPosTop)
right=$(hive_value WindowPosRight); bottom=$(hive_value WindowPosBottom)
[[ -n "$left" && -n "$top" && -n "$right" && -n "$bottom" ]] || fail "window position not stored"
(( right - left > 100 && bottom - top > 100 )) || fail "odd stored size $left,$top,$right,$bottom"
tr -d '\r' <"$hive" | grep -qF '[HKEY_CURRENT_USER\Software\Local AppWizard-Generated Applications\quillstream\Recent File List]' \
    || fail "no recent-file list key"
tr -d '\r' <"$hive" | grep -qF "\"File1\"=\"$log\"" || fail "recent-file list does not hold the file"

tr -d '\r' <"$trace" >"$work/trace.txt"
grep -qE '^-{77}$' "$work/trace.txt" || fail "no separator line"
grep -q "Quillstream was started" "$work/trace.txt" || fail "no start line"
grep -qiE "(Operating system|OS|Processor)" "$work/trace.txt" || fail "no environment report"
start_line=$(grep -n "Quillstream was started" "$work/trace.txt" | head -1 | cut -d: -f1)
exit_line=$(grep -n "ExitInstance" "$work/trace.txt" | tail -1 | cut -d: -f1)
(( start_line < exit_line )) || fail "ExitInstance before the start line"

# --- second run: starts where the first stored, stores the same --------------------------
run_program
wait_trace "Opened $log: 3 lines"
terminate INT
(( $(hive_value WindowPosLeft) == left )) || fail "second run: left $(hive_value WindowPosLeft), expected $left"
(( $(hive_value WindowPosTop) == top )) || fail "second run: top $(hive_value WindowPosTop), expected $top"
(( $(hive_value WindowPosRight) == right && $(hive_value WindowPosBottom) == bottom )) || fail "second run: size changed"
[[ $(tr -d '\r' <"$trace" | grep -c "ExitInstance") -eq 2 ]] || fail "second run: no ExitInstance"

echo "end-to-end: ok"
