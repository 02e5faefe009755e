#!/usr/bin/env bash
# End-to-end run of selection and copy on Wayland: the real program on a headless sway
# (Qt's own Wayland platform, no X server), the keys typed through the compositor's virtual
# keyboard (wtype) and the selections read back by another Wayland client (wl-paste):
# Ctrl+A fills the primary selection; Ctrl+C, Ctrl+Insert and Edit > Copy fill the
# clipboard, each with every line ended by a line feed.
#
# wtype creates a keyboard for each call and drops it at the end; keys typed without pauses
# around them can arrive before the program has the keyboard's keymap, or not at all, in
# any program. Hence the pauses, and each menu walk within one call.
#
# Skipped (exit 77) when sway, wtype, wl-clipboard or Qt's Wayland platform is missing.
# sway refuses to run as root: as root, the compositor runs as the user "nobody".
#
# usage: wayland-clipboard-end-to-end.sh /path/to/quillstream
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

exe=$1
for tool in sway wtype wl-paste wl-copy; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
if ! compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null; then
    echo "skipped: Qt's Wayland platform (qt6-wayland) is not installed"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quillstream-wl.XXXXXXXX")
chmod 755 "$work"
keep=0
pid=
sway_pid=
cleanup() {
    local p
    for p in "$pid" "$sway_pid"; do
        if [[ -n "$p" ]] && kill -0 "$p" 2>/dev/null; then
            kill -TERM "$p" 2>/dev/null || true
            wait "$p" 2>/dev/null || true
        fi
    done
    if [[ $keep -eq 0 ]]; then rm -rf "$work"; else echo "kept for inspection: $work" >&2; fi
}
trap cleanup EXIT
fail() {
    keep=1
    echo "FAIL: $*" >&2
    [[ -f "$trace" ]] && { echo "--- trace log" >&2; tr -d '\r' <"$trace" | tail -30 >&2; }
    [[ -f "$work/sway.txt" ]] && { echo "--- sway" >&2; tail -10 "$work/sway.txt" >&2; }
    exit 1
}

# The compositor, with its own runtime folder; clients find it by the socket's full path.
compositor_runtime=$work/compositor
mkdir -m 700 "$compositor_runtime"
printf 'output HEADLESS-1 resolution 1280x1024\n' >"$work/sway.cfg"
chmod 644 "$work/sway.cfg"
as_compositor=()
if [[ $(id -u) -eq 0 ]]; then
    chown nobody "$compositor_runtime"
    as_compositor=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
"${as_compositor[@]}" env -i PATH="$PATH" HOME="$work" XDG_RUNTIME_DIR="$compositor_runtime" \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$work/sway.cfg" >"$work/sway.txt" 2>&1 &
sway_pid=$!
socket=
for i in $(seq 1 100); do
    socket=$(compgen -G "$compositor_runtime/wayland-*[0-9]" | head -1 || true)
    [[ -n "$socket" ]] && break
    kill -0 "$sway_pid" 2>/dev/null || fail "sway did not start"
    sleep 0.1
done
[[ -n "$socket" ]] || fail "sway offers no Wayland socket"

export WAYLAND_DISPLAY=$socket
export TMPDIR=$work/tmp XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
export XDG_RUNTIME_DIR=$work/runtime LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=wayland
unset LANGUAGE LC_MESSAGES DISPLAY
mkdir -m 700 -p "$TMPDIR" "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS/quillstream" "$XDG_RUNTIME_DIR"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Orix\\Quillstream\\Logging]\r\n"LogLevel"=dword:00000003\r\n' \
    >"$XDG_CONFIG_DIRS/quillstream/machine.reg"
trace=$TMPDIR/Quillstream.log
log=$work/copied.log
printf 'alpha one\nbeta zwei\xc3\xa4 \xe2\x82\xac\n' >"$log"
printf 'alpha one\nbeta zwei\xc3\xa4 \xe2\x82\xac\n' >"$work/all"

keys() { sleep 0.3; wtype -s 300 "$@" -s 300; }
# Reads a selection until it equals the expected bytes (a safety limit, not a timing check).
expect_paste() { # <what> [wl-paste option]
    local i
    for i in $(seq 1 30); do
        if wl-paste -n ${2:+"$2"} >"$work/got" 2>/dev/null && cmp -s "$work/got" "$work/all"; then
            return 0
        fi
        sleep 0.1
    done
    echo "--- got" >&2; od -c "$work/got" | head >&2
    fail "$1"
}

wl-copy --clear
"$exe" "$log" >"$work/out.txt" 2>&1 &
pid=$!
wait_trace "Opened $log: 2 lines"
wait_trace "First lines painted"

keys -M ctrl -s 100 a -s 100 -m ctrl
expect_paste "Ctrl+A: primary selection" --primary
keys -M ctrl -s 100 c -s 100 -m ctrl
expect_paste "Ctrl+C: clipboard"
wl-copy --clear
keys -M ctrl -s 100 -k Insert -s 100 -m ctrl
expect_paste "Ctrl+Insert: clipboard"
wl-copy --clear
keys -M alt -s 100 e -s 100 -m alt -s 400 c
expect_paste "Edit > Copy: clipboard"

kill -TERM "$pid"
wait "$pid" || fail "the program did not end cleanly"
pid=
echo "Wayland clipboard end-to-end: ok"
