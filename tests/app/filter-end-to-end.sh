#!/usr/bin/env bash
# End-to-end run of the filter pane in the real program on a private X server with a window
# manager: a filter typed with the keyboard (Ctrl+Shift+F, text, Enter) while lines are
# appended to the file, then an excluding row added through the bar's "+" by keys, then
# Escape. What the pane holds is read back by another X client (xclip) after Ctrl+A and
# Ctrl+C in the pane, and compared with what grep finds in the file; after Escape the same
# keys at the same place must copy the whole log again.
#
# usage: filter-end-to-end.sh /path/to/quillstream [EN|DE]
# QUILL_E2E_SHOTS=1 also saves screenshots of the steps in the work folder (kept on failure).
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$1
language=${2:-EN}
case $language in EN | DE) ;; *) echo "unknown language: $language" >&2; exit 2 ;; esac
begin_session filter-e2e
fail() {
    keep=1
    echo "FAIL: $*" >&2
    [[ -n "${DISPLAY:-}" ]] && import -window root "$work/failure.png" 2>/dev/null || true
    [[ -f "$trace" ]] && { echo "--- trace log" >&2; tr -d '\r' <"$trace" | tail -20 >&2; }
    exit 1
}
shot() { [[ -z "${QUILL_E2E_SHOTS:-}" ]] || import -window root "$work/$1.png"; }
machine_hive '[HKEY_LOCAL_MACHINE\Software\Orix\Quillstream\GUI]' "\"GUILanguage\"=\"$language\""
hive=$XDG_CONFIG_HOME/quillstream/user.reg
log=$work/service.log

# Lines that match the filter, lines that match the later exclude, lines that match both
# (the exclude wins), and lines that match neither. The filter ignores case by default.
add_lines() { # <first> <last>
    local i
    for ((i = $1; i <= $2; ++i)); do
        case $((i % 5)) in
            0) echo "2026-12-08 08:00:$i ERROR request $i failed" ;;
            1) echo "2026-12-08 08:00:$i INFO healthcheck $i ok" ;;
            2) echo "2026-12-08 08:00:$i error: healthcheck $i timed out" ;;
            3) echo "2026-12-08 08:00:$i INFO request $i served" ;;
            4) echo "2026-12-08 08:00:$i WARN retry $i, no ERRORS yet" ;;
        esac
    done
}
add_lines 1 40 >"$log"

# The texts of the recent filters in the user hive, one a line.
recent_filters() {
    tr -d '\r' <"$hive" 2>/dev/null | awk '
        /^\[/ { recent = index($0, "\\Quillstream\\Filter\\Recent\\") > 0 }
        recent && /^"SearchString"="/ { sub(/^"SearchString"="/, ""); sub(/"$/, ""); print }'
}

# A display of our own, with a window manager on it.
start_display
start_window_manager

"$exe" "$log" >"$work/out.txt" 2>&1 &
pid=$!
wait_trace "Opened $log: 40 lines"
wait_trace "First lines painted"
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$pid" --name "Quillstream" | head -1)
[[ -n "$window" ]] || fail "no program window"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
shot start

keys() { xdotool key --clearmodifiers "$@"; }

# The filter, typed; the file grows while it is set and after.
keys ctrl+shift+f
xdotool type --delay 20 ERROR
keys Return
# Enter keeps the filter in the list of recent ones, in the user hive.
for _ in $(seq 1 50); do
    recent_filters | grep -qx ERROR && break
    sleep 0.1
done
recent_filters | grep -qx ERROR || fail "Enter in the filter field did not keep ERROR among the recent filters"
lines=40
for batch in 1 2 3; do
    add_lines $((lines + 1)) $((lines + 7)) >>"$log"
    lines=$((lines + 7))
    wait_trace "File appended: $lines lines"
done
shot filtered

# Where things are, from the screen: a column near the right edge, clear of the short
# lines, runs dark through the log view and through the pane's rows, and light through the
# bar and the pane's header between them. Prints "top bottom" of each dark run (window
# coordinates), the log view's first.
eval "$(xdotool getwindowgeometry --shell "$window")"
dark_runs() {
    import -window "$window" -crop "1x${HEIGHT}+$((WIDTH - 30))+0" -depth 8 txt:- |
        sed -n 's/^0,\([0-9]*\): .*#\([0-9A-Fa-f]\{6\}\).*/\1 \2/p' |
        awk 'BEGIN { top = -1 }
             { dark = ($2 ~ /^[0-2].[0-2].[0-2]./)
               if (dark && top < 0) top = $1
               if (!dark && top >= 0) { if ($1 - top >= 20) print top, $1 - 1; top = -1 } }'
}
runs=()
for _ in $(seq 1 50); do
    mapfile -t runs < <(dark_runs)
    (( ${#runs[@]} == 2 )) && break
    sleep 0.1
done
(( ${#runs[@]} == 2 )) || fail "no pane of matching lines below the log view (dark runs: ${runs[*]})"
read -r _ log_bottom <<<"${runs[0]}"
read -r pane_top pane_bottom <<<"${runs[1]}"
pane_x=$((WIDTH / 2))
pane_y=$(((pane_top + pane_bottom) / 2))

# The rows of whichever pane takes the click, as Ctrl+A and Ctrl+C put them on the
# clipboard: a line feed after every line. Tried again until they are the expected ones, as the
# pane may not have caught up with the file yet (a safety limit, not a timing check).
expect_copy() { # <expected file> <what>
    local i
    for i in $(seq 1 30); do
        xdotool mousemove --window "$window" "$pane_x" "$pane_y" click 1
        keys ctrl+a ctrl+c
        for _ in 1 2 3 4 5; do
            xclip -o -selection clipboard >"$work/got" 2>/dev/null && cmp -s "$work/got" "$1" && return 0
            sleep 0.1
        done
    done
    diff <(tr -d '\r' <"$1") <(tr -d '\r' <"$work/got") >&2 || true
    fail "$2"
}

grep -iF ERROR "$log" >"$work/expected"
(( $(wc -l <"$work/expected") > 20 )) || fail "the test file has too few matching lines"
expect_copy "$work/expected" "the pane does not hold exactly the lines with ERROR"

# An excluding row: Tab from the field reaches "+" beside it, and Space presses it (the
# window's own Space, Pause, must not take the key); the caret goes to a new row with
# Exclude ticked.
keys ctrl+shift+f Tab space
xdotool type --delay 20 healthcheck
keys Return
add_lines $((lines + 1)) $((lines + 10)) >>"$log"
lines=$((lines + 10))
wait_trace "File appended: $lines lines"
shot excluded
eval "$(xdotool getwindowgeometry --shell "$window")"
mapfile -t runs < <(dark_runs)
(( ${#runs[@]} == 2 )) || fail "the pane is gone after adding an exclude (dark runs: ${runs[*]})"
read -r pane_top pane_bottom <<<"${runs[1]}"
pane_y=$(((pane_top + pane_bottom) / 2))
grep -iF ERROR "$log" | grep -viF healthcheck >"$work/expected"
(( $(wc -l <"$work/expected") > 10 )) || fail "the test file has too few lines left by the exclude"
expect_copy "$work/expected" "the pane does not hold the lines with ERROR and without healthcheck"

# Escape in the field: no filter, no pane, and the log view takes the room back, so the
# same click lands in the log and the keys copy all of it.
keys ctrl+shift+f Escape
for _ in $(seq 1 50); do
    mapfile -t runs < <(dark_runs)
    (( ${#runs[@]} == 1 )) && break
    sleep 0.1
done
shot cleared
(( ${#runs[@]} == 1 )) || fail "the pane still shows after Escape (dark runs: ${runs[*]})"
cp "$log" "$work/expected"
expect_copy "$work/expected" "after Escape the click and copy did not reach the whole log"

kill -TERM "$pid"
wait "$pid" || fail "the program did not end cleanly"
pid=
echo "filter end-to-end ($language): ok"
