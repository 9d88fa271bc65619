#!/usr/bin/env bash
# A live capture as a person works with it, on a desktop (Xvfb, openbox) at
# scale 1 and 2, with real keys, clicks and wheel turns from xdotool, inside a
# private network namespace (lo only; every burst of traffic bounded in count
# and time, to 127.0.0.1): the status-bar counters against a known number of
# datagrams; following the newest row, and reading back with Ctrl+Home, Page
# Up, Up, the wheel, the scroll bar and a click while rows keep arriving, and
# following again with End, Ctrl+End, the wheel and View > Follow New
# Packets; Home, Page Down and End moving the selected row; the display
# filter (Ctrl+F, Enter, Escape, an invalid expression in red) against a
# mixed stream. The program's own report of its windows
# (QUORVANE_TEST_REPORT) tells where the list stands.
#   list-e2e.sh PROGRAM [SCALES]    (SCALES default "1 2"; needs root)
# QV_E2E_SHOTS=DIR keeps screenshots of the main window there.
set -u
PROGRAM=$(readlink -f "$1")
SCALES=${2:-"1 2"}

if [ -z "${QV_E2E_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
    command -v openbox >/dev/null || { echo "SKIP: no openbox"; exit 77; }
    QV_E2E_INSIDE=1 exec unshare -n "$0" "$@"
fi

WORK=$(mktemp -d /tmp/quorvane-list.XXXXXX)
chmod 755 "$WORK"
FAILURES=0
# shellcheck source=tests/e2e/desktop-lib.sh
. "$(dirname "$(readlink -f "$0")")/desktop-lib.sh"

ip link set lo up
cleanup() {
    [ -n "$PROG" ] && kill "$PROG" 2>/dev/null
    [ -n "$WM" ] && kill "$WM" 2>/dev/null
    [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

# $1 UDP datagrams to a receiver on 127.0.0.1 (so that none draws an ICMP
# error), 2 ms apart, and $2 (default 0) TCP exchanges. Bounded: at most a
# few seconds.
traffic() {
    python3 - "$1" "${2:-0}" <<'PY'
import socket, sys, threading, time
udp, tcp = int(sys.argv[1]), int(sys.argv[2])
sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); sink.bind(("127.0.0.1", 0))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(min(udp, 2000)):
    s.sendto(b"list %d" % i, sink.getsockname()); time.sleep(0.002)
for i in range(min(tcp, 5)):
    server = socket.socket(); server.bind(("127.0.0.1", 0)); server.listen(1); server.settimeout(5)
    def serve():
        conn, _ = server.accept(); conn.settimeout(5); conn.recv(100); conn.sendall(b"ok"); conn.close()
    t = threading.Thread(target=serve); t.start()
    c = socket.create_connection(server.getsockname(), timeout=5); c.sendall(b"GET"); c.recv(10); c.close()
    t.join(5); server.close()
time.sleep(0.3)
sink.close()
PY
}
L() { report | grep "^list"; }
rows() { L | field rows; }
top() { L | field top; }
vmax() { L | field vmax; }
pane() { report | grep "^status" | grep -o "$1: [0-9,]*" | head -1; }
grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }
following() { local l; l=$(L); [ "$(field top <<<"$l")" = "$(field vmax <<<"$l")" ] && [ "$(field vmax <<<"$l")" -gt 0 ]; }
# After more rows arrive, the view is still at the top row it had ($1).
held_at() { traffic 40; local t; t=$(top); [ "$t" = "$1" ] && [ "$(vmax)" -gt "$t" ]; }
follows() { traffic 40; following; }
y_of() {  # screen y of the middle of the viewport's row slot $1 (0 = top row in view)
    local l; l=$(L)
    awk -v t="$(field rowtop <<<"$l")" -v h="$(field rowheight <<<"$l")" -v top="$(field top <<<"$l")" \
        -v r="$1" -v s="$SCALE" 'BEGIN {print int((t + (top + r) * h + h / 2) * s)}'
}

for SCALE in $SCALES; do
    echo "--- scale $SCALE"
    start_desktop "$(awk "BEGIN {print int(1280 * $SCALE) \"x\" int(800 * $SCALE)}")"
    HOME1="$WORK/home-$SCALE"; mkdir -p "$HOME1"
    start_program "$HOME1" "$SCALE"
    DIALOG=$(find_window "^Select Adapter$" 40)
    [ -n "$DIALOG" ] || { fail "no adapter dialog"; stop_desktop; continue; }
    keys "$DIALOG" Return
    MAIN=$(find_window "^Untitiled - Quorvane$" 30)
    [ -n "$MAIN" ] || { fail "no main window"; stop_desktop; continue; }
    check "the counters show nothing captured and nothing lost" \
        bash -c "grep -q '^status panes=Ready|Captured: 0||Lost: 0' <<<'$(report)'"
    for _ in 1 2 3; do
        keys "$MAIN" alt+c; sleep 0.5; xdotool key s
        traffic 20; sleep 1
        [ "$(rows)" -ge 20 ] && break
    done

    # A known number of datagrams: the Captured counter counts each once.
    BEFORE=$(rows)
    traffic 300; sleep 1
    R=$(rows)
    check "300 datagrams captured ($BEFORE then $R rows)" test "$R" = $((BEFORE + 300))
    check "the Captured counter says $(grouped "$R") ($(pane Captured))" test "$(pane Captured)" = "Captured: $(grouped "$R")"
    check "nothing lost ($(pane Lost))" test "$(pane Lost)" = "Lost: 0"
    check "the list follows the newest row" following

    # Reading back while rows keep arriving.
    xdotool mousemove --window "$MAIN" 20 "$(y_of 5)" click 1; sleep 0.3
    T=$(top)
    check "a click on a row holds the view" held_at "$T"
    keys "$MAIN" End
    check "End follows again" follows
    keys "$MAIN" ctrl+Home
    check "Ctrl+Home holds the view at the top" held_at 0
    keys "$MAIN" ctrl+End
    check "Ctrl+End follows again" follows
    keys "$MAIN" Prior; T=$(top)
    check "Page Up holds the view" held_at "$T"
    keys "$MAIN" End Up; T=$(top)
    check "Up holds the view" held_at "$T"
    keys "$MAIN" End
    xdotool mousemove --window "$MAIN" 20 "$(y_of 3)" click 4; sleep 0.3; T=$(top)
    check "the wheel up holds the view" held_at "$T"
    xdotool click --repeat 40 --delay 20 5; sleep 0.3
    check "the wheel down to the bottom follows again" follows
    # A click in the scroll bar's groove above its slider pages up.
    LL=$(L)
    SBX=$(awk -v l="$(field left <<<"$LL")" -v w="$(field viewport <<<"$LL")" -v s="$SCALE" 'BEGIN {print int((l + w + 6) * s)}')
    xdotool mousemove --window "$MAIN" "$SBX" "$(y_of 1)" click 1; sleep 0.3; T=$(top)
    check "the scroll bar holds the view" held_at "$T"
    keys "$MAIN" alt+v; sleep 0.3; xdotool key f; sleep 0.3
    check "View > Follow New Packets follows again" follows

    # Home, Page Down and End move the selected row, a page at a time.
    keys "$MAIN" Home
    LL=$(L)
    check "Home selects the first row at the top" test "$(field selected <<<"$LL"),$(field top <<<"$LL")" = "0,0"
    keys "$MAIN" Next
    LL=$(L)
    SEL=$(field selected <<<"$LL")
    check "Page Down moves the selection a page down ($SEL)" test "$SEL" -gt 5
    keys "$MAIN" Next
    check "Page Down again moves it another page ($(L | field selected))" test "$(L | field selected)" = $((2 * SEL))
    keys "$MAIN" Prior
    check "Page Up moves it back" test "$(L | field selected)" = "$SEL"
    keys "$MAIN" End
    LL=$(L)
    check "End selects the last row" test "$(field selected <<<"$LL")" = $(($(field rows <<<"$LL") - 1))
    shot "list-follow-$SCALE" "$MAIN"

    # The display filter against a mixed stream: UDP, then TCP exchanges.
    traffic 10 2; sleep 1
    TCP=$(report | grep -c '^row .*|TCP|')
    ALL=$(rows)
    keys "$MAIN" ctrl+f
    check "Ctrl+F puts the focus in the filter field" bash -c "grep -q '^field focus=1' <<<'$(report)'"
    xdotool type --delay 40 "tcp port"; sleep 0.2; xdotool key Return; sleep 0.3
    F=$(report | grep "^field")
    check "an invalid expression shows in red" test "$(field color <<<"$F")" = "#b00000"
    check "with libpcap's message ($(field tip <<<"$F"))" grep -q "syntax_error" <<<"$(field tip <<<"$F")"
    check "and nothing else changes" test "$(rows)" = "$ALL"
    shot "filter-invalid-$SCALE" "$MAIN"
    xdotool key ctrl+a; xdotool type --delay 40 "tcp"; sleep 0.2; xdotool key Return; sleep 0.5
    R=$(report)
    check "tcp shows the $TCP TCP rows ($(grep '^list' <<<"$R" | field rows))" test "$(grep '^list' <<<"$R" | field rows)" = "$TCP"
    check "and only TCP rows" test -z "$(grep '^row ' <<<"$R" | grep -v '|TCP|')"
    check "the Shown counter says $TCP" test "$(pane Shown)" = "Shown: $TCP"
    traffic 30 1; sleep 1
    R=$(report)
    check "new TCP rows are shown as they arrive ($(grep '^list' <<<"$R" | field rows))" \
        test "$(grep '^list' <<<"$R" | field rows)" -gt "$TCP"
    check "new UDP rows are not" test -z "$(grep '^row ' <<<"$R" | grep -v '|TCP|')"
    check "the Captured counter counts every row ($(pane Captured))" test "$(pane Captured)" != "Captured: $(grouped "$TCP")"
    shot "filter-$SCALE" "$MAIN"

    # A real double-click on a shown row, with its trailing release: the
    # detail window opens on that row, which stays selected where it was.
    xdotool mousemove --window "$MAIN" 20 "$(y_of 0)" click 1; sleep 0.3
    keys "$MAIN" Home
    T=$(top)
    xdotool mousemove --window "$MAIN" 20 "$(y_of 2)" click --repeat 2 --delay 80 1
    PACKET=$(find_window "^Packet$" 10)
    R=$(report)
    check "a double-click opens the detail window" test -n "$PACKET"
    check "on the TCP datagram of that row" grep -q "^text .* top=IP Header$" <<<"$R"
    check "the row stays selected ($(grep '^list' <<<"$R" | field selected))" \
        test "$(grep '^list' <<<"$R" | field selected)" = $((T + 2))
    check "and the view stays where it was" test "$(grep '^list' <<<"$R" | field top)" = "$T"
    check "one detail window" test "$(xdotool search --onlyvisible --name '^Packet$' 2>/dev/null | wc -l)" = 1
    [ -n "$PACKET" ] && keys "$PACKET" alt+F4
    activate "$MAIN"
    keys "$MAIN" ctrl+f Escape
    R=$(report)
    check "Escape clears the filter: every row again" test "$(grep '^list' <<<"$R" | field rows)" -gt "$ALL"
    check "and the Shown counter goes" test -z "$(pane Shown)"

    keys "$MAIN" alt+f x
    # The captured rows are unsaved: Exit asks first, and No leaves.
    BOX=$(find_window "^Quorvane$" 5)
    [ -n "$BOX" ] && keys "$BOX" alt+n
    STATUS=$(wait_exit); PROG=""
    check "exit status 0 ($STATUS)" test "$STATUS" = 0
    stop_desktop
done

if [ "$FAILURES" -ne 0 ]; then
    echo "--- program output"; tail -20 "$WORK/program.log"
    echo "$FAILURES failures"; exit 1
fi
echo "all passed"
