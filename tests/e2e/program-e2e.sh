#!/usr/bin/env bash
# End to end: the built program under Xvfb (no window manager), driven with
# real X input events by xdotool, inside a private network namespace where lo
# is the only interface, so 127.0.0.1 is the only adapter and all traffic
# stays there. Needs root (the namespace and the capture socket).
#   program-e2e.sh PROGRAM
# First start with a fresh home: adapter dialog, main window, capture of
# bounded loopback traffic, rows on screen, detail window, Save, Exit, the
# setting written; second start: no dialog. Then a start as nobody, without
# any capability: the helper beside this build holds none, so listing the
# adapters and Start show the engine's boxes and the program still exits.
# (scripts/test-install.sh runs the installed program as ordinary users.)
set -u
PROGRAM=$(readlink -f "$1")

if [ -z "${QV_E2E_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
    QV_E2E_INSIDE=1 exec unshare -n "$0" "$@"
fi

WORK=$(mktemp -d /tmp/quorvane-e2e.XXXXXX)
chmod 755 "$WORK"
. "$(dirname "$(readlink -f "$0")")/e2e-lib.sh"

ip link set lo up
start_xvfb
PROG=""
cleanup() {
    [ -n "$PROG" ] && kill "$PROG" 2>/dev/null
    kill "$XVFB" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

start_program() {  # $1 home; the rest: command prefix
    local home=$1; shift
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=xcb "$@" "$PROGRAM" >>"$WORK/program.log" 2>&1 &
    PROG=$!
}

# ---- First start: fresh home, adapter dialog first and alone ----
HOME1="$WORK/home1"; mkdir -p "$HOME1"
start_program "$HOME1"
DIALOG=$(find_window "^Select Adapter$" 15)
if [ -n "$DIALOG" ]; then ok "adapter dialog shown"; else fail "no adapter dialog"; fi
[ -z "$(xdotool search --onlyvisible --name '^Untitiled - Quorvane$' 2>/dev/null)" ] \
    && ok "main window hidden while the dialog is open" || fail "main window shown before the dialog closed"
[ -n "$DIALOG" ] && keys "$DIALOG" Return
MAIN=$(find_window "^Untitiled - Quorvane$" 15)
if [ -z "$MAIN" ]; then fail "no main window"; echo "$FAILURES failures"; exit 1; fi
ok "main window"
sleep 0.5
import -window "$MAIN" "$WORK/before.png"

# Start through the Capture menu, then bounded loopback traffic.
keys "$MAIN" alt+c s
send_udp 20
sleep 1
import -window "$MAIN" "$WORK/after.png"
# Only the list area below the column headers counts (the toolbar's buttons
# change state too).
DIFF=$(rows_changed "$WORK/before.png" "$WORK/after.png")
if [ "$DIFF" -gt 1000 ] 2>/dev/null; then ok "rows drawn ($DIFF pixels changed)"; else fail "window unchanged after traffic ($DIFF)"; fi

# Double-click a row (a few rows below the toolbar, the filter field and the
# column headers).
xdotool mousemove --window "$MAIN" 120 150 click --repeat 2 --delay 80 1
PACKET=$(find_window "^Packet$" 10)
if [ -n "$PACKET" ]; then ok "detail window opened"; else fail "no detail window after double-click"; fi

# Save: the file dialog takes the path typed into it; tshark reads the capture written.
keys "$MAIN" ctrl+s
SAVEDLG=$(timeout 10 xdotool search --sync --onlyvisible --name "Save" 2>/dev/null | head -1)
if [ -n "$SAVEDLG" ]; then
    sleep 0.5
    xdotool windowfocus --sync "$SAVEDLG"; xdotool key ctrl+a; xdotool type --delay 20 "$WORK/saved.cap"; xdotool key Return
    for _ in $(seq 50); do [ -e "$WORK/saved.cap" ] && break; sleep 0.1; done
    N=$(tshark -r "$WORK/saved.cap" 2>/dev/null | wc -l)
    if [ "$N" -ge 20 ]; then ok "Save wrote the $N datagrams"; else fail "Save wrote $N datagrams, not 20"; fi
else
    fail "no Save dialog"
fi

# Exit during the capture: File, Exit.
keys "$MAIN" alt+f x
STATUS=$(wait_exit)
if [ "$STATUS" = 0 ]; then ok "exit during capture, status 0"; else fail "program after Exit: $STATUS"; fi
PROG=""
grep -qx 'Default%20Adapter=127.0.0.1' "$HOME1/.config/Tembrook/Quorvane.conf" 2>/dev/null \
    && ok "setting holds 127.0.0.1" || fail "setting not written"

# ---- Second start: no dialog ----
start_program "$HOME1"
MAIN=$(find_window "^Untitiled - Quorvane$" 15)
[ -n "$MAIN" ] && ok "second start shows the main window" || fail "second start: no main window"
[ -z "$(xdotool search --onlyvisible --name '^Select Adapter$' 2>/dev/null)" ] \
    && ok "second start: no adapter dialog" || fail "second start showed the adapter dialog"
[ -n "$MAIN" ] && keys "$MAIN" alt+f x
STATUS=$(wait_exit)
[ "$STATUS" = 0 ] && ok "second exit" || fail "second exit: $STATUS"
PROG=""

# ---- Without the right to capture: nobody, no capabilities ----
HOME2="$WORK/home2"; mkdir -p "$HOME2"; chown 65534:65534 "$HOME2"
start_program "$HOME2" setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all
# Listing the adapters needs the capture socket too: its failure box comes
# first, then the main window without an adapter.
BOX=$(find_window "^Quorvane$" 15)
if [ -n "$BOX" ]; then ok "adapter listing without capability shows a box"; keys "$BOX" Return
else fail "no box when listing adapters without capability"; fi
DIALOG=$(find_window "^Select Adapter$" 2)
[ -n "$DIALOG" ] && keys "$DIALOG" Return
MAIN=$(find_window "^Untitiled - Quorvane$" 15)
if [ -n "$MAIN" ]; then
    keys "$MAIN" alt+c s
    BOX=$(find_window "^Quorvane$" 10)
    if [ -n "$BOX" ]; then ok "Start without capability shows a box"; keys "$BOX" Return; else fail "no box on Start without capability"; fi
    keys "$MAIN" alt+f x
else
    fail "unprivileged start: no main window"
fi
STATUS=$(wait_exit)
[ "$STATUS" = 0 ] && ok "unprivileged exit" || fail "unprivileged program after Exit: $STATUS"
PROG=""

if [ "$FAILURES" -ne 0 ]; then
    echo "--- program output"; tail -20 "$WORK/program.log"
    echo "$FAILURES failures"; exit 1
fi
echo "all passed"
