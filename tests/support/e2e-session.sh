# Shell functions the end-to-end runs share; source this file, then call begin_session.
# Once the program runs, the caller sets pid.

# One run's private world: a folder `work` (removed at the end, kept when the run failed),
# the program's folders and a UTF-8 locale inside it, a machine hive that raises the trace
# level (machine_hive adds lines), `trace` naming the trace log, and an exit trap that ends
# the program, the window manager, the X server and whatever before_end_session (if the
# caller defines it) ends.
begin_session() { # <name>
    work=$(mktemp -d "${TMPDIR:-/tmp}/quillstream-$1.XXXXXXXX")
    keep=0
    trap end_session EXIT
    export TMPDIR=$work/tmp XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
    export XDG_RUNTIME_DIR=$work/runtime XDG_CACHE_HOME=$work/cache
    export LANG=C.UTF-8 LC_ALL=C.UTF-8
    unset LANGUAGE LC_MESSAGES QT_QPA_PLATFORM
    mkdir -m 700 -p "$TMPDIR" "$XDG_CONFIG_HOME/quillstream" "$XDG_CONFIG_DIRS/quillstream" \
        "$XDG_RUNTIME_DIR"
    trace=$TMPDIR/Quillstream.log
    machine_hive
}

# Writes the machine hive: the trace level, then the given lines (keys and values as a .reg
# file holds them), each ended with CR LF.
machine_hive() { # [line...]
    {
        printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
            '[HKEY_LOCAL_MACHINE\Software\Orix\Quillstream\Logging]' '"LogLevel"=dword:00000003'
        [[ $# -eq 0 ]] || printf '%s\r\n' '' "$@"
    } >"$XDG_CONFIG_DIRS/quillstream/machine.reg"
}

# Ends a process if it still runs and waits for it.
end_process() { # [pid]
    local p=${1:-}
    if [[ -n "$p" ]] && kill -0 "$p" 2>/dev/null; then
        kill -KILL "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    fi
}

end_session() {
    if declare -F before_end_session >/dev/null; then
        before_end_session
    fi
    end_process "${pid:-}"
    end_process "${wm_pid:-}"
    end_process "${xvfb_pid:-}"
    if [[ ${keep:-0} -eq 0 ]]; then
        rm -rf "$work"
    else
        echo "kept for inspection: $work" >&2
    fi
}

# Reports a failure with the end of the trace log, keeps the folder and exits.
fail() {
    keep=1
    echo "FAIL: $*" >&2
    if [[ -f "$trace" ]]; then
        echo "--- trace log" >&2
        tr -d '\r' <"$trace" | tail -40 >&2
    fi
    exit 1
}

# Waits until the trace log has a line matching the extended regular expression; fails as
# soon as the program has ended. The limit is a safety net, not a timing check.
wait_trace() {
    local pattern=$1 i
    for i in $(seq 1 300); do
        if [[ -f "$trace" ]] && tr -d '\r' <"$trace" | grep -aqE "$pattern"; then
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || fail "the program ended while waiting for: $pattern"
        sleep 0.1
    done
    fail "no trace line matching: $pattern"
}

# A private X server, on the display number it picks itself (it reports it once it accepts
# clients): sets xvfb_pid and exports DISPLAY.
start_display() {
    local i
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.txt" 2>&1 &
    xvfb_pid=$!
    for i in $(seq 1 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
    [[ -s "$work/display" ]] || fail "Xvfb did not start"
    export DISPLAY=":$(head -1 "$work/display")"
}

# openbox on that display, when it is installed, once it has taken charge: sets wm_pid.
# Without it windows still show, only placed and activated differently.
start_window_manager() {
    local i
    if ! command -v openbox >/dev/null 2>&1; then
        echo "$(basename "$0"): openbox is not installed; running without a window manager" >&2
        return 0
    fi
    openbox --sm-disable >"$work/openbox.txt" 2>&1 &
    wm_pid=$!
    for i in $(seq 1 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
    done
}
