# Shell functions the end-to-end runs share; source this file. The caller defines fail
# (reports and exits) and sets work (its private folder), trace (the program's trace log)
# and, once the program runs, pid.

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
