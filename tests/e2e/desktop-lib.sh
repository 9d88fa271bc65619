# Shared by the desktop scripts (sourced): an Xvfb display with the openbox
# window manager, finding, activating and typing into windows with xdotool,
# screenshots, starting the built program as a person would (fresh home, a
# scale factor) with its own report of its windows, and reading that report.
# The caller sets WORK (a scratch folder) and PROGRAM first, and FAILURES=0.

fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
ok() { echo "ok: $*"; }
check() { local what=$1; shift; if "$@"; then ok "$what"; else fail "$what"; return 1; fi; }

XVFB=""; WM=""; PROG=""
start_desktop() {  # $1 WxH
    # Xvfb picks a free display itself (other tests may run their own).
    rm -f "$WORK/display"
    Xvfb -displayfd 3 -screen 0 "${1}x24" -ac -nolisten tcp 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
    XVFB=$!
    for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -1 "$WORK/display")"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    # The window manager now and then fails to open a display that has just
    # come up: it is started again until it has taken the screen.
    for _ in 1 2 3 4 5; do
        HOME="$WORK/wmhome" openbox >"$WORK/openbox.log" 2>&1 &
        WM=$!
        for _ in $(seq 50); do
            # The screen is taken once the property is there and this
            # openbox still runs (one that failed to open the display has
            # exited, whatever the property says).
            if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; then
                sleep 0.5
                kill -0 "$WM" 2>/dev/null && return 0
                break
            fi
            kill -0 "$WM" 2>/dev/null || break
            sleep 0.1
        done
        kill "$WM" 2>/dev/null; wait "$WM" 2>/dev/null
        echo "window manager started again: $(tail -1 "$WORK/openbox.log")"
        sleep 0.5
    done
    echo "no window manager: $(tail -1 "$WORK/openbox.log")"
}
stop_desktop() {
    kill "$WM" "$XVFB" 2>/dev/null; wait "$WM" "$XVFB" 2>/dev/null; WM=""; XVFB=""
}

find_window() { timeout "${2:-10}" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1; }
activate() {  # until the window manager has made $1 the active window (bounded)
    for _ in 1 2 3 4 5; do
        timeout 5 xdotool windowactivate --sync "$1" 2>/dev/null
        [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ] && return 0
        xdotool windowfocus --sync "$1" 2>/dev/null; sleep 0.3
    done
}
keys() { activate "$1"; shift; for k in "$@"; do xdotool key "$k"; sleep 0.3; done; }
shot() { [ -n "${QV_E2E_SHOTS:-}" ] && mkdir -p "$QV_E2E_SHOTS" && import -window "${2:-root}" "$QV_E2E_SHOTS/$1.png"; return 0; }
wait_exit() {  # the exit status, or "running" (then the program is ended)
    for _ in $(seq 150); do kill -0 "$PROG" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$PROG" 2>/dev/null; then echo "running"; kill "$PROG" 2>/dev/null; wait "$PROG" 2>/dev/null; return; fi
    wait "$PROG"; echo $?
}
start_program() {  # $1 home, $2 scale, then the program's arguments
    local home=$1 scale=$2; shift 2
    rm -f "$WORK/report"
    # The report plugin, built beside the program (tests/e2e/TestReportPlugin.cpp).
    local plugins
    plugins=$(readlink -f "$(dirname "$PROGRAM")/../tests/e2e/plugins")
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" \
        QT_PLUGIN_PATH="$plugins" QT_QPA_GENERIC_PLUGINS=qvreport QUORVANE_TEST_REPORT="$WORK/report" \
        QUORVANE_TEST_PROBES="00:00:00:000|255.255.255.255|65535|flags: SYN ACK " \
        "$PROGRAM" "$@" >>"$WORK/program.log" 2>&1 &
    PROG=$!
}
report() { sleep 0.6; cat "$WORK/report" 2>/dev/null; }
text_lines() { grep "^text" | head -1 | field lines; }
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p"; }  # a key=value field of one report line
