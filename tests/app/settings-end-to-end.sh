#!/usr/bin/env bash
# End-to-end run of the settings sheet in the real program on a private X server: open
# the sheet with Ctrl+, , add a keyword through the editor with the keyboard, confirm, and
# see the matching lines painted white on red on the screen and the keyword in the user
# hive. Keys go in through the XTEST extension (xdotool), the screen comes out through
# ImageMagick's import.
#
# usage: settings-end-to-end.sh /path/to/quillstream [EN|DE]
# QUILL_E2E_SHOTS=1 also saves screenshots of the steps in the work folder (kept on failure).
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$1
language=${2:-EN}
case $language in # the captions to wait for and the Add button's mnemonic
    EN) sheet_title=Settings editor_title=Keyword add_key=alt+a ;;
    DE) sheet_title=Einstellungen editor_title=Suchbegriff add_key=alt+h ;;
    *) echo "unknown language: $language" >&2; exit 2 ;;
esac
begin_session settings-e2e
machine_hive '[HKEY_LOCAL_MACHINE\Software\Orix\Quillstream\GUI]' "\"GUILanguage\"=\"$language\""
hive=$XDG_CONFIG_HOME/quillstream/user.reg
log=$work/app.log
for i in $(seq 1 12); do
    echo "2026-12-08 07:00:$((10 + i)) INFO routine line $i"
    (( i % 3 == 0 )) && echo "2026-12-08 07:00:$((10 + i)) FATAL disk $i is gone"
done >"$log"

start_display

# Prints the id of the program's visible window whose title starts with the words given
# (Qt adds " — Quillstream" to a dialog's caption), once it is there; empty after 20 s.
find_window() {
    timeout 20 xdotool search --sync --onlyvisible --pid "$pid" --name "^$1( |\$)" 2>/dev/null |
        head -1 || true
}
red_pixels() { # pure red (the new keyword's background) on the whole screen
    import -window root -depth 8 txt:- | grep -c '#FF0000' || true
}

"$exe" "$log" >"$work/out.txt" 2>&1 &
pid=$!
wait_trace "Opened $log: 16 lines"
main=$(find_window Quillstream)
[[ -n "$main" ]] || fail "no main window"
sleep 0.5
(( $(red_pixels) == 0 )) || fail "red on the screen before any keyword exists"

xdotool windowfocus --sync "$main"
xdotool key --clearmodifiers ctrl+comma
sheet=$(find_window "$sheet_title")
[[ -n "$sheet" ]] || fail "Ctrl+, opened no settings sheet"
sleep 0.5                                # Qt gives the new dialog the focus itself
xdotool key --clearmodifiers ctrl+Tab    # the Keywords tab
sleep 0.3
[[ -n "${QUILL_E2E_SHOTS:-}" ]] && import -window root "$work/keywords-tab.png"
xdotool key --clearmodifiers "$add_key"  # Add...
editor=$(find_window "$editor_title")
[[ -n "$editor" ]] || fail "$add_key opened no keyword editor"
sleep 0.5
xdotool type --delay 20 FATAL
xdotool key Return                       # the editor's OK
sleep 0.3
[[ -n "${QUILL_E2E_SHOTS:-}" ]] && import -window root "$work/after-editor.png"
xdotool key Return                       # the sheet's OK
for _ in $(seq 1 100); do
    tr -d '\r' <"$hive" 2>/dev/null | grep -q '"SearchString"="FATAL"' && break
    sleep 0.1
done
tr -d '\r' <"$hive" | grep -q '"SearchString"="FATAL"' || fail "the keyword is not in the user hive"
tr -d '\r' <"$hive" | grep -q '"HighlightBkColor"=dword:000000ff' || fail "the keyword is not red"

# Four matching lines, each painted white on red across its text.
for _ in $(seq 1 50); do
    red=$(red_pixels)
    (( red > 400 )) && break
    sleep 0.2
done
(( red > 400 )) || fail "the matching lines are not painted red ($red red pixels)"

kill -TERM "$pid"
wait "$pid" || fail "the program did not end cleanly"
pid=
echo "settings end-to-end ($language): ok ($red red pixels)"
