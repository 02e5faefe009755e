#!/usr/bin/env bash
# End-to-end run of the real program under Xvfb on a file whose name (and folder) is not
# valid UTF-8: opened from the command line it shows its own lines and follows them, never
# those of the file that a decoding with U+FFFD would name; the recent-file list keeps the
# name through the user hive, and a second run without arguments opens it again from there.
#
# usage: names-end-to-end.sh /path/to/quillstream
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$(realpath "$1")
begin_session names
machine_hive '[HKEY_LOCAL_MACHINE\Software\Orix\Quillstream]' '"ShowLastViewedFile"=dword:00000001' \
    '"ShowEmptyFileWarning"=dword:00000000' '"ShowEmptyFiles"=dword:00000000'

hive=$XDG_CONFIG_HOME/quillstream/user.reg
folder=$work/$'logs\xfe'
mkdir "$folder"
log=$folder/$'app\xff.log'
printf 'one\ntwo\nthree\n' >"$log"
printf 'the wrong file\n' >"$folder/app"$'\xef\xbf\xbd'".log"

terminate() {
    local program="" child
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
        [[ "$(cat /proc/"$child"/comm 2>/dev/null)" == quillstream ]] && program=$child
    done
    [[ -n "$program" ]] || fail "cannot find the program's process"
    kill -TERM "$program"
    wait "$pid" || fail "the program did not end cleanly"
    pid=
}

# The trace log writes each byte that is not UTF-8 as '?'.
shown='Opened .*/logs\?/app\?\.log'

cd "$folder" # a relative name, taken from a current folder that is not UTF-8 either
xvfb-run -a -s "-screen 0 1024x768x24" "$exe" $'app\xff.log' >"$work/out.txt" 2>&1 &
pid=$!
cd "$work"
wait_trace "$shown: 3 lines"
printf 'four\n' >>"$log"
wait_trace "File appended: 4 lines"
terminate
tr -d '\r' <"$hive" | grep -q '^"File1"=hex(1):' || fail "the recent list lost the name's bytes"

xvfb-run -a -s "-screen 0 1024x768x24" "$exe" >"$work/out.txt" 2>&1 &
pid=$!
wait_trace "Quillstream was started"
wait_trace "$shown: 4 lines"
terminate
tr -d '\r' <"$trace" | grep -aq "Not opened" && fail "a name was opened as another"

echo "names end-to-end: ok"
