#!/usr/bin/env bash
# The README's first command as a new user meets it: the demo log's generator starts with
# the window (a history of 200 lines written while the program opens the file, then a few
# lines a second) and one line far wider than the window arrives during the start. Twenty
# screenshots over about ten seconds must each show the file's last lines at the bottom of
# the log view.
#
# How a screenshot is read without reading text: four keywords colour the four levels of
# the demo lines, each with its text in the colour of its background, so every line is a
# solid bar of its level's colour. A column of pixels through the log view, read from the
# bottom up, gives runs of colours; they must be the levels of the file's last lines, in
# order, each run as many rows high as it has lines.
#
# usage: follow-end-to-end.sh /path/to/quillstream /path/to/scripts/demo-log
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$1
demo_log=$2
begin_session follow
before_end_session() { end_process "${generator:-}"; }

# Level -> colour (0x00BBGGRR in the hive, #RRGGBB on screen).
declare -A hive_colour=([ERROR]=000000ff [WARN]=0000ffff [DEBUG]=00ff0000 [INFO]=0000ff00)
declare -A screen_colour=([ERROR]=FF0000 [WARN]=FFFF00 [DEBUG]=0000FF [INFO]=00FF00)
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Orix\\Quillstream\\Keywords]\r\n"Beep"=dword:00000000\r\n\r\n'
    n=0
    for level in ERROR WARN DEBUG INFO; do
        n=$((n + 1))
        printf '[HKEY_CURRENT_USER\\Software\\Orix\\Quillstream\\Keywords\\%d]\r\n' "$n"
        printf '"SearchString"="%s"\r\n' "$level"
        printf '"HighlightTextColor"=dword:%s\r\n"HighlightBkColor"=dword:%s\r\n' \
            "${hive_colour[$level]}" "${hive_colour[$level]}"
        printf '"MatchCase"=dword:00000001\r\n"MatchWord"=dword:00000001\r\n"Enabled"=dword:00000001\r\n\r\n'
    done
} >"$XDG_CONFIG_HOME/quillstream/user.reg"
chmod 600 "$XDG_CONFIG_HOME/quillstream/user.reg"

start_display
start_window_manager

# As scripts/run starts the demo: the generator first, the window once the file has a line.
demo=$("$demo_log" --create)
"$demo_log" "$demo" &
generator=$!
for _ in $(seq 1 50); do [[ -s "$demo" ]] && break; sleep 0.02; done
"$exe" -- "$demo" >"$work/out.txt" 2>&1 &
pid=$!
# A line far wider than the window while the program opens the file.
printf '%s INFO  [wide] %s\n' "$(date '+%Y-%m-%d %H:%M:%S.000')" "$(head -c 6000 /dev/zero | tr '\0' w)" >>"$demo"
wait_trace "Opened "

window=""
for _ in $(seq 1 100); do
    window=$(xdotool search --name '^Quillstream - ' 2>/dev/null | head -1 || true)
    [[ -n "$window" ]] && break
    sleep 0.1
done
[[ -n "$window" ]] || fail "no window"

# The level of each line of the file as a colour, from the last line upwards, runs merged:
# "colour count" lines.
file_runs() { # <line count>
    head -n "$1" "$demo" | tail -n 60 | tac | awk '
        { level = "NONE"
          for (i = 1; i <= NF; i++) if ($i == "ERROR" || $i == "WARN" || $i == "DEBUG" || $i == "INFO") { level = $i; break } }
        level == prev { count++; next }
        NR > 1 { print prev, count }
        { prev = level; count = 1 }
        END { print prev, count }'
}

# Colour runs of one pixel column of the screenshot, from the lowest level-coloured pixel
# upwards, until a pixel of no level: "colour height" lines.
screen_runs() { # <png> <x>
    convert "$1" -crop "1x100000+$2+0" +repage txt:- | sed -n 's/.*#\([0-9A-F]\{6\}\).*/\1/p' | tac | awk -v map="FF0000=ERROR FFFF00=WARN 0000FF=DEBUG 00FF00=INFO" '
        BEGIN { n = split(map, pairs, " "); for (i = 1; i <= n; i++) { split(pairs[i], kv, "="); level[kv[1]] = kv[2] } }
        { l = ($1 in level) ? level[$1] : "" }
        !started && l == "" { next }
        { started = 1 }
        l == "" { exit }
        l == prev { count++; next }
        prev != "" { print prev, count }
        { prev = l; count = 1 }
        END { if (prev != "") print prev, count }'
}

shots=0
attempts=0
while (( shots < 20 )); do
    attempts=$((attempts + 1))
    (( attempts < 200 )) || fail "the generator never paused long enough for a screenshot"
    before=$(wc -l <"$demo")
    sleep 0.2 # the program's time to show what was written
    [[ $(wc -l <"$demo") -eq $before ]] || continue
    import -window "$window" "$work/shot.png" 2>/dev/null || fail "no screenshot"
    [[ $(wc -l <"$demo") -eq $before ]] || continue
    shots=$((shots + 1))

    mapfile -t want < <(file_runs "$before")
    mapfile -t seen < <(screen_runs "$work/shot.png" 12)
    (( ${#seen[@]} >= 3 )) || { cp "$work/shot.png" "$work/shot-$shots.png"; fail "screenshot $shots: fewer than three runs of coloured rows (${seen[*]:-none})"; }
    # The lowest run gives the row height; every run below the topmost (which may be cut by
    # the top edge) must have the file's level and be as many rows high as it has lines.
    read -r level0 height0 <<<"${seen[0]}"
    read -r want_level0 want_count0 <<<"${want[0]}"
    row=$(( height0 / want_count0 ))
    for (( i = 0; i < ${#seen[@]} - 1; i++ )); do
        read -r level height <<<"${seen[$i]}"
        read -r want_level want_count <<<"${want[$i]}"
        if [[ "$level" != "$want_level" ]] || (( height != want_count * row )); then
            cp "$work/shot.png" "$work/shot-$shots.png"
            fail "screenshot $shots (line $before): row run $i is $level x $height px, the file's is $want_level x $want_count lines of $row px; screen: ${seen[*]}; file: ${want[*]:0:8}"
        fi
    done
    sleep 0.3
done

kill -TERM "$pid"
wait "$pid" || fail "the program did not end cleanly after SIGTERM"
pid=
echo "follow end-to-end: ok ($shots screenshots, $(wc -l <"$demo") lines)"
