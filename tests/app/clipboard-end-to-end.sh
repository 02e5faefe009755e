#!/usr/bin/env bash
# End-to-end run of selection and copy through a real X server (Xvfb): the real program
# follows a file, the keys Ctrl+A and Ctrl+C are typed into its window (xdotool, XTEST), and
# the clipboard and the PRIMARY selection are read back by another X client (xclip): every
# line ended by a line feed, non-ASCII text kept. A second copy with Ctrl+Insert
# after the file was truncated and re-read must give the new text, never the old.
# Under an ISO-8859-15 locale every target another program may ask for (UTF8_STRING,
# STRING, text/plain) holds the text in the encoding that target names.
#
# usage: clipboard-end-to-end.sh /path/to/quillstream
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$1
if [[ -z "${QUILL_E2E_IN_XVFB:-}" ]]; then
    export QUILL_E2E_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

begin_session clip
log=$work/copied.log
printf 'alpha one\nbeta zwei\xc3\xa4 \xe2\x82\xac\ngamma three\n' >"$log"

# Reads a selection until it equals the expected bytes (a safety limit, not a timing check).
expect_selection() { # <selection> <expected file> <what> [target]
    local i target=()
    [[ -n "${4:-}" ]] && target=(-t "$4")
    for i in $(seq 1 50); do
        if xclip -o -selection "$1" "${target[@]}" >"$work/got" 2>/dev/null &&
            cmp -s "$work/got" "$2"; then
            return 0
        fi
        sleep 0.1
    done
    echo "--- expected" >&2; od -c "$2" | head >&2
    echo "--- got" >&2; od -c "$work/got" | head >&2
    fail "$3"
}

"$exe" "$log" >"$work/out.txt" 2>&1 &
pid=$!
wait_trace "Opened $log: 3 lines"
wait_trace "First lines painted"
window=$(xdotool search --sync --onlyvisible --name "Quillstream" | head -1)
[[ -n "$window" ]] || fail "no program window"
xdotool windowfocus --sync "$window"

xdotool key --clearmodifiers ctrl+a ctrl+c
printf 'alpha one\nbeta zwei\xc3\xa4 \xe2\x82\xac\ngamma three\n' >"$work/all"
expect_selection clipboard "$work/all" "Ctrl+A, Ctrl+C: clipboard"
expect_selection primary "$work/all" "Ctrl+A: PRIMARY selection"

# The file is replaced by a shorter one: the program re-reads it and the old selection is
# gone. Written aside and renamed over, so the new file is never seen half-written.
printf 'new\n' >"$work/replacement"
mv "$work/replacement" "$log"
wait_trace "Opened $log: 1 lines"
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers ctrl+Insert
expect_selection clipboard "$work/all" "a copy without a selection changed the clipboard"
xdotool key --clearmodifiers ctrl+a ctrl+Insert
printf 'new\n' >"$work/new"
expect_selection clipboard "$work/new" "Ctrl+A, Ctrl+Insert after the re-read"

# F5 re-reads the file: a PRIMARY selection that no program had asked for yet is given up,
# never left claimed with an empty text (the old text is acceptable until it goes).
reloads=$(tr -d '\r' <"$trace" | grep -ac "Reloading " || true)
xdotool key --clearmodifiers ctrl+a F5
wait_trace "Reloading .*"
for i in $(seq 1 50); do
    [[ $(tr -d '\r' <"$trace" | grep -ac "Reloading ") -gt $reloads ]] && break
    sleep 0.1
done
released=0
for i in $(seq 1 50); do
    if ! xclip -o -selection primary >"$work/got" 2>/dev/null; then
        released=1
        break
    fi
    cmp -s "$work/got" "$work/new" || { od -c "$work/got" | head >&2; fail "PRIMARY after F5 offers neither the old text nor nothing"; }
    sleep 0.1
done
[[ $released -eq 1 ]] || fail "PRIMARY still claimed after F5 re-read the file"

kill -TERM "$pid"
wait "$pid" || fail "the program did not end cleanly"
pid=

# The same copy under an 8-bit locale, built here so that no system locale is needed.
mkdir -p "$work/locale"
localedef -i en_US -f ISO-8859-15 "$work/locale/en_US.ISO-8859-15" 2>"$work/localedef.txt" ||
    fail "localedef could not build an ISO-8859-15 locale: $(cat "$work/localedef.txt")"
narrow=$work/narrow.log
printf '\xa4 f\xfcr\n' >"$narrow" # "€ für" in ISO-8859-15
LOCPATH=$work/locale LC_ALL=en_US.ISO-8859-15 LANG=en_US.ISO-8859-15 \
    "$exe" "$narrow" >"$work/out-narrow.txt" 2>&1 &
pid=$!
wait_trace "Opened $narrow: 1 lines"
wait_trace "First lines painted"
window=$(xdotool search --sync --onlyvisible --name "Quillstream" | head -1)
[[ -n "$window" ]] || fail "no program window under the 8-bit locale"
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers ctrl+a ctrl+c
# The models: iconv for UTF-8; STRING is Latin-1, which has no euro sign (Qt writes '?').
{ iconv -f ISO-8859-15 -t UTF-8 <"$narrow" | tr -d '\n'; printf '\n'; } >"$work/utf8"
printf '? f\xfcr\n' >"$work/latin1"
{ tr -d '\n' <"$narrow"; printf '\n'; } >"$work/iso15"
expect_selection clipboard "$work/utf8" "8-bit locale: UTF8_STRING" UTF8_STRING
expect_selection clipboard "$work/utf8" "8-bit locale: text/plain" text/plain
expect_selection clipboard "$work/utf8" "8-bit locale: text/plain;charset=utf-8" \
    "text/plain;charset=utf-8"
expect_selection clipboard "$work/latin1" "8-bit locale: STRING" STRING
expect_selection clipboard "$work/iso15" "8-bit locale: the narrow form under its name" \
    "text/plain;charset=ISO-8859-15"
expect_selection primary "$work/utf8" "8-bit locale: PRIMARY as UTF8_STRING" UTF8_STRING
kill -TERM "$pid"
wait "$pid" || fail "the program did not end cleanly under the 8-bit locale"
pid=
echo "clipboard end-to-end: ok"
