#!/usr/bin/env bash
# The program as a screen reader meets it, on a desktop like a person's: Xvfb
# with openbox, a D-Bus session and the AT-SPI bus started here (as a desktop
# session starts them), accessibility switched on the way a screen reader
# does (org.a11y.Status IsEnabled), a fresh home, inside a private network
# namespace (lo only, bounded traffic to 127.0.0.1). Driven with real keys:
#   - Capture > "Capture Filter...": an invalid expression keeps the dialog
#     open with libpcap's message, read from its label through the bus; a
#     valid one is stored as "Capture Filter" in [General];
#   - a capture with that filter of a mixed stream: only what it matches is
#     listed, and the caption names the adapter while it runs;
#   - the list read through the bus as a table: column headers, rows, every
#     cell's text; the focused cell announced as Up and Down move the row;
#   - the detail window's text selected with the mouse and with Ctrl+A, and
#     copied with Ctrl+C.
#   atspi-e2e.sh PROGRAM    (needs root)
set -u
PROGRAM=$(readlink -f "$1")
HERE=$(cd "$(dirname "$0")" && pwd)
READER="$HERE/atspi-read-table.py"

if [ -z "${QV_ATSPI_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
    for tool in openbox Xvfb xdotool dbus-run-session /usr/libexec/at-spi-bus-launcher; do
        command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
    done
    /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: no python3-pyatspi"; exit 77; }
    QV_ATSPI_INSIDE=1 exec unshare -n dbus-run-session -- "$0" "$@"
fi

WORK=$(mktemp -d /tmp/quorvane-atspi.XXXXXX)
chmod 755 "$WORK"
FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
ok() { echo "ok: $*"; }
check() { local what=$1; shift; if "$@"; then ok "$what"; else fail "$what"; return 1; fi; }

ip link set lo up
XVFB=""; WM=""; PROG=""; BUS=""
cleanup() {
    [ -n "$PROG" ] && kill "$PROG" 2>/dev/null
    [ -n "$BUS" ] && kill "$BUS" 2>/dev/null
    [ -n "$WM" ] && kill "$WM" 2>/dev/null
    [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x800x24 -ac -nolisten tcp 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$WORK/display")"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
for _ in 1 2 3; do
    HOME="$WORK/wmhome" openbox >"$WORK/openbox.log" 2>&1 &
    WM=$!
    for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
    sleep 0.5
    kill -0 "$WM" 2>/dev/null && break
done

# The accessibility bus, and accessibility on, as a screen reader turns it on.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$WORK/bus.log" 2>&1 &
BUS=$!
for _ in $(seq 50); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
    sleep 0.1
done
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
    string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null

find_window() { timeout "${2:-10}" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1; }
activate() {
    for _ in 1 2 3 4 5; do
        timeout 5 xdotool windowactivate --sync "$1" 2>/dev/null
        [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ] && return 0
        sleep 0.3
    done
}
keys() { activate "$1"; shift; for k in "$@"; do xdotool key "$k"; sleep 0.4; done; }
udp() {  # bounded: $1 datagrams of $3 payload bytes to 127.0.0.1 port $2, 20 ms apart
    /usr/bin/python3 - "$@" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(int(sys.argv[1])):
    s.sendto(b"x" * int(sys.argv[3]), ("127.0.0.1", int(sys.argv[2]))); time.sleep(0.02)
PY
}

HOMEDIR="$WORK/home"
mkdir -p "$HOMEDIR/.config/Tembrook"
printf '[General]\nDefault%%20Adapter=127.0.0.1\n' >"$HOMEDIR/.config/Tembrook/Quorvane.conf"
env HOME="$HOMEDIR" XDG_CONFIG_HOME="$HOMEDIR/.config" QT_QPA_PLATFORM=xcb "$PROGRAM" >"$WORK/program.log" 2>&1 &
PROG=$!
MAIN=$(find_window "^Untitiled - Quorvane$" 30)
[ -n "$MAIN" ] || { fail "no main window"; tail "$WORK/program.log"; exit 1; }
sleep 0.5

# Capture > Capture Filter... (the item above the last): the field has the focus.
DIALOG=""
for _ in 1 2 3; do
    keys "$MAIN" alt+c Up Up Return
    DIALOG=$(find_window "^Capture Filter$" 5)
    [ -n "$DIALOG" ] && break
    xdotool key Escape Escape; sleep 0.3
done
check "Capture > Capture Filter... opens the dialog" test -n "$DIALOG" || exit 1
keys "$DIALOG" ctrl+a; xdotool type --delay 30 "udp port"; xdotool key Return; sleep 0.8
check "an invalid expression keeps the dialog open" test -n "$(find_window '^Capture Filter$' 2)"
MESSAGE=$(/usr/bin/python3 "$READER" labels "Capture Filter")
echo "  labels on the bus: $MESSAGE"
check "libpcap's message is shown in the dialog" grep -q "syntax error" <<<"$MESSAGE"
keys "$DIALOG" ctrl+a; xdotool type --delay 30 "udp dst port 9"; xdotool key Return; sleep 0.8
check "a valid expression closes the dialog" test -z "$(xdotool search --onlyvisible --name '^Capture Filter$' 2>/dev/null)"
CONF="$HOMEDIR/.config/Tembrook/Quorvane.conf"
check "stored as Capture Filter beside Default Adapter" \
    bash -c "sed -n '/^\[General\]/,/^\[/p' '$CONF' | grep -qx 'Capture%20Filter=udp dst port 9' &&
             sed -n '/^\[General\]/,/^\[/p' '$CONF' | grep -qx 'Default%20Adapter=127.0.0.1'"

# Capture a mixed stream: only the datagrams to port 9 pass the filter.
for _ in 1 2 3; do
    keys "$MAIN" alt+c s
    sleep 0.5
    xdotool search --name "Capturing on 127.0.0.1 \(lo\)" >/dev/null 2>&1 && break
done
CAPTION=$(xdotool getwindowname "$MAIN")
check "the caption names the adapter during the capture ($CAPTION)" \
    test "$CAPTION" = "Untitiled - Quorvane - Capturing on 127.0.0.1 (lo)"
udp 4 10 20; udp 5 9 20; udp 4 10 20
sleep 1
keys "$MAIN" alt+c t
sleep 0.5
CAPTION=$(xdotool getwindowname "$MAIN")
check "the caption is plain again after Stop ($CAPTION)" test "$CAPTION" = "Untitiled - Quorvane"

TABLE=$(/usr/bin/python3 "$READER" table)
echo "  table on the bus: $TABLE"
/usr/bin/python3 - "$TABLE" <<'PY' || FAILURES=$((FAILURES + 1))
import json, sys
t = json.loads(sys.argv[1])
problems = []
def expect(what, actual, wanted):
    if actual != wanted:
        problems.append("%s: %r, expected %r" % (what, actual, wanted))
expect("role", t["role"], "table")
expect("columns", t["columns"], 8)
expect("column headers", [h["name"] for h in t["headers"]],
       ["Timestamp", "Source Address", "Source Port", "Dest. Address", "Dest. Port", "Type", "Size", "Info"])
expect("header roles", {h["role"] for h in t["headers"]}, {"table column header"})
expect("header descriptions", [h["description"] for h in t["headers"]], [h["name"] for h in t["headers"]])
expect("rows (only the 5 datagrams to port 9)", t["rows"], 5)
expect("children: the cells", t["children"], t["rows"] * 8)
expect("first child", t["firstChild"], t["cells"][0][0] if t["cells"] else None)
expect("cell role", t["cellRole"], "table cell")
expect("first cell's row and column", t["cellRowColumn"], [0, 0])
last = t["rows"] * 8 - 1
expect("last cell's row and column", t["lastRowColumn"], [t["rows"] - 1, 7])
for r, row in enumerate(t["cells"]):
    expect("row %d source" % r, row[1], "127.0.0.1")
    expect("row %d destination" % r, row[3], "127.0.0.1")
    expect("row %d destination port" % r, row[4], "9")
    expect("row %d type" % r, row[5], "UDP")
    expect("row %d size" % r, row[6], "48")
    if not row[0] or not row[2].isdigit():
        problems.append("row %d: time %r, source port %r" % (r, row[0], row[2]))
for p in problems:
    print("FAIL: " + p)
if problems:
    sys.exit(1)
print("ok: the list reads as a table: 8 column headers, 5 rows, every cell's text")
PY
TIMES=$(/usr/bin/python3 -c 'import json,sys; print("\n".join(r[0] for r in json.loads(sys.argv[1])["cells"]))' "$TABLE")

# Click the first row where the bus places it, then Down and Down, Up.
activate "$MAIN"
FOCUS=$(/usr/bin/python3 "$READER" focus Down Down Up)
echo "  focus events: $FOCUS"
/usr/bin/python3 - "$FOCUS" "$TIMES" <<'PY' || FAILURES=$((FAILURES + 1))
import json, sys
f = json.loads(sys.argv[1])
times = sys.argv[2].split("\n")
cells = [e["name"] for e in f["focus"] if e["role"] == "table cell"]
problems = []
# Each move announces the first cell of the row it lands on, in order.
wanted = [times[1], times[2], times[1]]
it = iter(cells)
if not all(any(c == w for c in it) for w in wanted):
    problems.append("focused cells %r do not include %r in order" % (cells, wanted))
if f["selectedRows"] != [1]:
    problems.append("selected rows %r, expected [1]" % f["selectedRows"])
for p in problems:
    print("FAIL: " + p)
if problems:
    sys.exit(1)
print("ok: moving the row announces its cell and selects it")
PY

part_of_first_line() { [ -n "$1" ] && [ "$1" != sentinel ] && [[ "IP Header" == "$1"* ]]; }
whole_text() {
    [[ "$1" == "IP Header"$'\n'"Source Address: 127.0.0.1"$'\n'"Destination Address: 127.0.0.1"$'\n'* ]] &&
        [[ "$1" == *"UDP Header"*"Raw Bytes:"* ]]
}
# The detail window of row 2: its text can be selected with the mouse and
# with Ctrl+A, and copied with Ctrl+C.
read -r X Y W H <<<"$(/usr/bin/python3 "$READER" extents 2)"
xdotool mousemove "$((X + W / 2))" "$((Y + H / 2))" click --repeat 2 --delay 80 1
PACKET=$(find_window "^Packet$" 10)
if [ -n "$PACKET" ]; then
    activate "$PACKET"
    printf 'sentinel' | xclip -selection clipboard -i; sleep 0.2
    # Drag along the first line, "IP Header", from its left end.
    xdotool mousemove --window "$PACKET" 3 9 mousedown 1 mousemove --window "$PACKET" 40 9 \
        mousemove --window "$PACKET" 400 9 mouseup 1
    sleep 0.3; xdotool key ctrl+c; sleep 0.3
    DRAGGED=$(xclip -selection clipboard -o 2>/dev/null)
    check "a drag selects text that Ctrl+C copies ('$DRAGGED')" part_of_first_line "$DRAGGED"
    xdotool key ctrl+a; sleep 0.2; xdotool key ctrl+c; sleep 0.3
    check "Ctrl+A, Ctrl+C copies the whole text" whole_text "$(xclip -selection clipboard -o 2>/dev/null)"
    activate "$MAIN"
else
    fail "no detail window after a double-click on row 2"
fi

keys "$MAIN" alt+f x
# The captured rows are unsaved: Exit asks first, and No leaves.
BOX=$(find_window "^Quorvane$" 5)
[ -n "$BOX" ] && keys "$BOX" alt+n
for _ in $(seq 100); do kill -0 "$PROG" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$PROG" 2>/dev/null; then fail "the program did not exit"; else wait "$PROG"; PROG=""; fi

if [ "$FAILURES" -ne 0 ]; then
    echo "--- program output"; tail -20 "$WORK/program.log"
    echo "$FAILURES failures"; exit 1
fi
echo "all passed"
