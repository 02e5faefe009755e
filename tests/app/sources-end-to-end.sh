#!/usr/bin/env bash
# The real program under Xvfb with logs that arrive as no file of their own: printf piped
# into it, a writer that feeds its standard input at known moments through a FIFO, a
# command from the command line, and a .gz named on the command line. Checked: the lines
# arrive, the end of input is seen, the title names the source, the spool is private and
# is gone after SIGTERM, and a spool left by a crashed copy is removed at the next start.
#
# usage: sources-end-to-end.sh /path/to/quillstream [EN|DE]
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$1
language=${2:-EN}
begin_session sources
machine_hive '[HKEY_LOCAL_MACHINE\Software\Orix\Quillstream\GUI]' "\"GUILanguage\"=\"$language\""
before_end_session() { exec 4>&- 2>/dev/null || true; }
spools=$XDG_CACHE_HOME/quillstream/spool
if [[ $language == DE ]]; then
    standard_input="Standardeingabe"; end_of_input="Ende der Eingabe"
    exit_status="Befehl beendet mit Status 2"; copy="(entpackte Kopie)"
else
    standard_input="standard input"; end_of_input="End of input"
    exit_status="Command ended with exit status 2"; copy="(decompressed copy)"
fi

start_display
start_window_manager

window_title() {
    local id
    id=$(xwininfo -root -tree 2>/dev/null | grep -F '"Quillstream - ' | head -1 | awk '{print $1}')
    [[ -n "$id" ]] && xprop -id "$id" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME([A-Z0-9_]*) = "\(.*\)"$/\1/p'
}
wait_title() { # <glob the title must match>
    local i title=
    for i in $(seq 1 100); do
        title=$(window_title || true)
        # shellcheck disable=SC2053
        [[ $title == $1 ]] && return 0
        sleep 0.1
    done
    fail "window title: '$title', expected $1"
}
runs=0
terminate() { # and keeps the run's trace apart, so the next run's waits see only its own
    kill -TERM "$pid"
    wait "$pid" || fail "the program did not end cleanly after SIGTERM"
    pid=
    runs=$((runs + 1))
    mv "$trace" "$trace.$runs"
}
spool_count() { find "$spools" -name '*.spool' 2>/dev/null | wc -l; }

# --- printf piped into the program: all of it, then the end --------------------------------
printf '2026-12-08 ERROR piped one\n2026-12-08 INFO piped two\n' | "$exe" >"$work/out1.txt" 2>&1 &
pid=$!
wait_trace "Following standard input"
wait_trace "File appended: 2 lines|Opened .*: 2 lines"
wait_trace "Source ended: $end_of_input"
wait_title "Quillstream - *  -  $standard_input"
terminate

# --- a writer that feeds standard input at known moments ---------------------------------
# A spool left by a copy that crashed: it goes at the next start.
mkdir -p -m 700 "$spools"
echo "left behind" >"$spools/999999999-1-0.spool"
mkfifo "$work/feed"
"$exe" - <"$work/feed" >"$work/out2.txt" 2>&1 &
pid=$!
exec 4>"$work/feed"
wait_trace "Stale spools removed: 1"
[[ ! -e "$spools/999999999-1-0.spool" ]] || fail "the stale spool is still there"
printf 'first line\n' >&4
# Start-up may still be opening the spool when the line arrives.
wait_trace "File appended: 1 lines|Opened .*: 1 lines"
[[ $(spool_count) -eq 1 ]] || fail "expected one spool, found $(spool_count)"
spool=$(find "$spools" -name '*.spool')
[[ $(stat -c %a "$spool") == 600 ]] || fail "spool mode $(stat -c %a "$spool")"
[[ $(stat -c %a "$spools") == 700 ]] || fail "spool folder mode $(stat -c %a "$spools")"
sleep 0.5
printf 'second line\nthird line\n' >&4
wait_trace "File appended: 3 lines"
tr -d '\r' <"$trace" | grep -q "Source ended" && fail "end of input before the writer closed"
exec 4>&-
wait_trace "Source ended: $end_of_input"
terminate
[[ $(spool_count) -eq 0 ]] || fail "the spool is still there after SIGTERM"

# --- a command from the command line -----------------------------------------------------
"$exe" --command "sh -c 'echo \"from a command\"; exit 2'" >"$work/out3.txt" 2>&1 </dev/null &
pid=$!
wait_trace "Following command"
wait_trace "Source ended: $exit_status"
wait_trace "File appended: 1 lines|Opened .*: 1 lines"
terminate
[[ $(spool_count) -eq 0 ]] || fail "the command's spool is still there after SIGTERM"

# --- a .gz named on the command line --------------------------------------------------------
log=$work/rotated.log
for i in $(seq 1 500); do echo "2026-12-08 10:00:00 INFO rotated line $i"; done >"$log"
gzip "$log"
"$exe" "$log.gz" >"$work/out4.txt" 2>&1 </dev/null &
pid=$!
wait_trace "Decompressed copy complete: 500 lines"
wait_title "Quillstream - *  -  $log.gz $copy"
terminate
[[ $(spool_count) -eq 0 ]] || fail "the decompressed copy is still there after SIGTERM"

# --- a .gz that is really plain text, and an empty one: opened and followed as files ------
fake=$work/plain.log.gz
printf 'plain one\nplain two\nplain three\n' >"$fake"
: >"$work/empty.gz"
"$exe" "$fake" >"$work/out5.txt" 2>&1 </dev/null &
pid=$!
wait_trace "Opened $fake: 3 lines"
echo "plain four" >>"$fake"
wait_trace "File appended: 4 lines"
terminate
tr -d '\r' <"$trace.$runs" | grep -q "Decompressing" && fail "plain text taken for gzip"
"$exe" "$work/empty.gz" >"$work/out6.txt" 2>&1 </dev/null &
pid=$!
wait_trace "Opened $work/empty.gz: 0 lines"
terminate

echo "sources-end-to-end ($language): ok"
