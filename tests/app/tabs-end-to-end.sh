#!/usr/bin/env bash
# Tabs in the real program under Xvfb with a window manager: three files on the command
# line, each shown in its tab with its lines (read back through the clipboard after Ctrl+A,
# Ctrl+C, the tabs switched with Ctrl+Tab and Alt+n), an append to a tab behind the front
# one marks it (the trace log says so) and leaves the front tab's text alone; after SIGTERM
# the next start with "open the last viewed file" opens the three again, the front in front.
#
# usage: tabs-end-to-end.sh /path/to/quillstream
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$1
begin_session tabs-e2e
machine_hive '[HKEY_LOCAL_MACHINE\Software\Orix\Quillstream]' '"ShowLastViewedFile"=dword:00000001'

first=$work/first.log
second=$work/second.log
third=$work/third.log
printf 'first one\nfirst two\n' >"$first"
printf 'second one\nsecond two\nsecond three\n' >"$second"
printf 'third one\n' >"$third"

# The front tab's whole text, read through the clipboard, must be the file's.
expect_front() { # <file> <what>
    local i
    cp "$1" "$work/expected"
    for i in $(seq 1 50); do
        xdotool windowfocus --sync "$window"
        xdotool key --clearmodifiers ctrl+a ctrl+c
        if xclip -o -selection clipboard >"$work/got" 2>/dev/null &&
            cmp -s "$work/got" "$work/expected"; then
            return 0
        fi
        sleep 0.1
    done
    echo "--- expected" >&2; od -c "$work/expected" | head >&2
    echo "--- got" >&2; od -c "$work/got" | head >&2
    fail "$2"
}

start_display
start_window_manager

"$exe" "$first" "$second" "$third" >"$work/out.txt" 2>&1 &
pid=$!
wait_trace "Opened $first: 2 lines"
wait_trace "Opened $second: 3 lines"
wait_trace "Opened $third: 1 lines"
wait_trace "First lines painted"
window=$(xdotool search --sync --onlyvisible --name "first.log" | head -1)
[[ -n "$window" ]] || fail "no window titled after the first file"

expect_front "$first" "the first file is in front with its lines"
xdotool key --clearmodifiers ctrl+Tab
expect_front "$second" "Ctrl+Tab: the second file's lines"
xdotool key --clearmodifiers alt+3
expect_front "$third" "Alt+3: the third file's lines"
xdotool key --clearmodifiers alt+1
expect_front "$first" "Alt+1: the first file's lines again"

printf 'third two\n' >>"$third"
wait_trace "File appended: 2 lines"
wait_trace "New lines behind the front tab: $third"
expect_front "$first" "an append behind changed the front tab"
xdotool key --clearmodifiers ctrl+Page_Up
expect_front "$third" "Ctrl+Page Up: the third file with its new line"

kill -TERM "$pid"
wait "$pid" || fail "the program did not end cleanly"
pid=

# The next start brings the three back, the third in front.
opened=$(tr -d '\r' <"$trace" | grep -ac "^.*Opened " || true)
"$exe" >"$work/out2.txt" 2>&1 &
pid=$!
for i in $(seq 1 100); do
    [[ $(tr -d '\r' <"$trace" | grep -ac "Opened ") -ge $((opened + 3)) ]] && break
    sleep 0.1
done
[[ $(tr -d '\r' <"$trace" | grep -ac "Opened ") -ge $((opened + 3)) ]] ||
    fail "the session's three files were not opened again"
window=$(xdotool search --sync --onlyvisible --name "third.log" | head -1)
[[ -n "$window" ]] || fail "the restored window does not show the third file in front"
expect_front "$third" "restored: the third file in front with its lines"
xdotool key --clearmodifiers ctrl+Tab
expect_front "$first" "restored: the first file after the third"
kill -TERM "$pid"
wait "$pid" || fail "the restored program did not end cleanly"
pid=
echo "tabs end-to-end: ok"
