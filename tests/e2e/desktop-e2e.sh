#!/usr/bin/env bash
# The built program on a desktop as a person sees it: Xvfb with the openbox
# window manager, at scale 1 and 2 (QT_SCALE_FACTOR), a fresh home each time,
# driven with xdotool inside a private network namespace (lo only, all
# traffic bounded and to 127.0.0.1). The report of the program's windows (the
# test plugin qvreport, loaded through the environment, QUORVANE_TEST_REPORT)
# gives column widths, the widths their texts need, window frames and the
# line at the top of the detail window.
#   desktop-e2e.sh PROGRAM [SCALES]    (SCALES default "1 2"; needs root)
# QV_E2E_SHOTS=DIR keeps a screenshot of each step there.
set -u
PROGRAM=$(readlink -f "$1")
SCALES=${2:-"1 2"}

if [ -z "${QV_E2E_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
    command -v openbox >/dev/null || { echo "SKIP: no openbox"; exit 77; }
    QV_E2E_INSIDE=1 exec unshare -n "$0" "$@"
fi

WORK=$(mktemp -d /tmp/quorvane-desktop.XXXXXX)
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

# Every column at least as wide as its header and the widest usual cell of its kind.
columns_fit() {
    local r=$1 bad=0 c w h need
    local -a probe=("00:00:00:000" "255.255.255.255" "65535" "255.255.255.255" "65535" "" "65535" "flags: SYN ACK ")
    for c in 0 1 2 3 4 5 6 7; do
        w=$(grep "^column $c " <<<"$r" | field width); h=$(grep "^column $c " <<<"$r" | field header)
        [ -n "$w" ] || { echo "  no column $c"; return 1; }
        [ "$w" -ge "$h" ] || { echo "  column $c: $w < header $h"; bad=1; }
        if [ -n "${probe[$c]}" ]; then
            need=$(grep -F "text=${probe[$c]}" <<<"$r" | head -1 | field need)
            [ "$w" -ge "$need" ] || { echo "  column $c: $w < '${probe[$c]}' $need"; bad=1; }
        fi
    done
    return $bad
}
inside() {  # frame x,y,w,h inside area x,y,w,h
    local f a; IFS=, read -r -a f <<<"$1"; IFS=, read -r -a a <<<"$2"
    [ "${f[0]}" -ge "${a[0]}" ] && [ "${f[1]}" -ge "${a[1]}" ] &&
        [ $((f[0] + f[2])) -le $((a[0] + a[2])) ] && [ $((f[1] + f[3])) -le $((a[1] + a[3])) ]
}
traffic() {  # bounded: UDP datagrams and one TCP exchange with a 1000-byte request
    python3 - <<'PY'
import socket, threading, time
server = socket.socket(); server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 8080)); server.listen(1); server.settimeout(5)
def serve():
    conn, _ = server.accept(); conn.settimeout(5); conn.recv(2000); conn.sendall(b"ok"); conn.close()
t = threading.Thread(target=serve); t.start()
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(3):
    u.sendto(b"desktop %d" % i, ("127.0.0.1", 9)); time.sleep(0.05)
c = socket.create_connection(("127.0.0.1", 8080), timeout=5); c.sendall(b"P" * 1000); c.recv(10); c.close()
t.join(5); server.close()
PY
}

for SCALE in $SCALES; do
    echo "--- scale $SCALE"
    start_desktop "$(awk "BEGIN {print int(1280 * $SCALE) \"x\" int(800 * $SCALE)}")"
    HOME1="$WORK/home-$SCALE"; mkdir -p "$HOME1"
    start_program "$HOME1" "$SCALE"
    DIALOG=$(find_window "^Select Adapter$" 40)
    if [ -z "$DIALOG" ]; then  # a desktop that came up badly on a loaded machine: once more
        echo "(no adapter dialog yet: starting the desktop again)"
        kill "$PROG" 2>/dev/null; wait "$PROG" 2>/dev/null; stop_desktop
        rm -rf "$HOME1"; mkdir -p "$HOME1"
        start_desktop "$(awk "BEGIN {print int(1280 * $SCALE) \"x\" int(800 * $SCALE)}")"
        start_program "$HOME1" "$SCALE"
        DIALOG=$(find_window "^Select Adapter$" 40)
    fi
    [ -n "$DIALOG" ] || { fail "no adapter dialog"; stop_desktop; continue; }
    check "adapter dialog carries the program icon" bash -c "xprop -id $DIALOG _NET_WM_ICON | grep -q 'Icon ('"
    keys "$DIALOG" Return
    MAIN=$(find_window "^Untitiled - Quorvane$" 30)
    [ -n "$MAIN" ] || { fail "no main window"; stop_desktop; continue; }
    R=$(report)
    check "every column fits its header and widest usual cell" columns_fit "$R"
    check "no horizontal scroll bar in the default frame" grep -q "^list hscroll=0" <<<"$R"

    # Capture, Start from the keyboard, then bounded traffic; on a loaded
    # machine a key can beat the menu, so Start is tried up to three times.
    for _ in 1 2 3; do
        keys "$MAIN" alt+c; sleep 0.5; xdotool key s
        traffic
        sleep 1
        ROWS=$(report | grep "^list" | field rows)
        [ "${ROWS:-0}" -ge 8 ] && break
    done
    shot "main-$SCALE" "$MAIN"
    check "rows captured ($ROWS)" test "${ROWS:-0}" -ge 8

    # Copy puts the selected row's eight texts on the clipboard, tab-separated.
    printf 'sentinel' | xclip -selection clipboard -i; sleep 0.2
    L=$(report | grep "^list")
    xdotool mousemove --window "$MAIN" 10 "$(awk -v t="$(field rowtop <<<"$L")" -v s="$SCALE" 'BEGIN {print int((t + 2) * s)}')" click 1; sleep 0.3
    ROW0=$(report | grep "^row 0 " | sed 's/^row 0 //' | tr '|' '\t')
    keys "$MAIN" ctrl+c
    check "Ctrl+C copies the selected row's texts" test "$(xclip -selection clipboard -o 2>/dev/null)" = "$ROW0"
    printf 'sentinel' | xclip -selection clipboard -i; sleep 0.2
    keys "$MAIN" ctrl+Insert
    check "Ctrl+Insert copies them too" test "$(xclip -selection clipboard -o 2>/dev/null)" = "$ROW0"

    # Double-click the 1052-byte segment (the request): the detail window opens on it.
    R=$(report); L=$(grep "^list" <<<"$R")
    BIG=$(awk -F'|' '/^row / && $7 + 0 >= 300 {split($1, a, " "); print a[2]; exit}' <<<"$R")
    SMALL=$(awk -F'|' '/^row / && $7 + 0 < 300 {split($1, a, " "); print a[2]; exit}' <<<"$R")
    # The report is in Qt's logical pixels; xdotool works in the screen's.
    row_y() { awk -v t="$(field rowtop <<<"$L")" -v h="$(field rowheight <<<"$L")" -v r="$1" -v s="$SCALE" \
        'BEGIN {print int((t + r * h + h / 2) * s)}'; }
    check "a datagram of 300 bytes or more was captured" test -n "$BIG"
    xdotool mousemove --window "$MAIN" 10 "$(row_y "${BIG:-0}")" click --repeat 2 --delay 80 1
    PACKET=$(find_window "^Packet$" 10)
    if [ -n "$PACKET" ]; then
        TRANSIENT=$(xprop -id "$PACKET" WM_TRANSIENT_FOR | grep -o '0x[0-9a-f]*')
        check "detail window transient for the main window" test "$((TRANSIENT))" = "$((MAIN))"
        R=$(report); P=$(grep "^window title=Packet " <<<"$R")
        check "detail window fully on screen ($(field frame <<<"$P") in $(field available <<<"$P"))" \
            inside "$(field frame <<<"$P")" "$(field available <<<"$P")"
        check "detail window shows the top of its text after opening" grep -q "^text .* top=IP Header$" <<<"$R"
        check "it shows the large datagram ($(text_lines <<<"$R") lines)" test "$(text_lines <<<"$R")" -gt 60
        shot "packet-$SCALE" "$PACKET"
        # A click on another row (left of the detail window, which stays above
        # the main window) refreshes it without activating it; a click
        # back on the large one refreshes it again, still showing its top.
        activate "$MAIN"; sleep 0.3
        xdotool mousemove --window "$MAIN" 10 "$(row_y "${SMALL:-0}")" click 1; sleep 0.3
        xdotool mousemove --window "$MAIN" 10 "$(row_y "${BIG:-0}")" click 1
        R=$(report)
        check "detail window shows the top of its text after a refresh" grep -q "^text .* top=IP Header$" <<<"$R"
        check "the refreshed window shows the large datagram again" test "$(text_lines <<<"$R")" -gt 60
        check "a refresh does not activate the detail window" grep -q "^window title=Packet .* active=0" <<<"$R"
        # A loaded window manager may drop the request: it is repeated while
        # the main window itself is still shown.
        for _ in 1 2 3; do
            xdotool windowminimize --sync "$MAIN"
            for _ in $(seq 25); do [ -z "$(xdotool search --onlyvisible --name '^Packet$' 2>/dev/null)" ] && break; sleep 0.2; done
            xwininfo -id "$MAIN" 2>/dev/null | grep -q "IsViewable" || break
        done
        check "the detail window minimises with the main window" \
            test -z "$(xdotool search --onlyvisible --name '^Packet$' 2>/dev/null)" ||
            { xwininfo -id "$MAIN" | grep "Map State"; xprop -id "$PACKET" WM_TRANSIENT_FOR _NET_WM_STATE WM_STATE
              kill -0 "$WM" 2>/dev/null || echo "the window manager has exited"; tail -5 "$WORK/openbox.log"; }
        activate "$MAIN"; sleep 0.5
    else
        fail "no detail window after double-click"
    fi
    keys "$MAIN" alt+f x
    # The captured rows are unsaved: Exit asks first, and No leaves.
    BOX=$(find_window "^Quorvane$" 5)
    [ -n "$BOX" ] && keys "$BOX" alt+n
    STATUS=$(wait_exit); PROG=""
    check "exit status 0 ($STATUS)" test "$STATUS" = 0
    CONF="$HOME1/.config/Tembrook/Quorvane.conf"
    check "setting file is readable text holding 127.0.0.1" \
        bash -c "file -b '$CONF' | grep -q text && grep -q '^Default%20Adapter=127.0.0.1$' '$CONF'"

    # An absolute path opens that file: its name in the caption, no adapter dialog.
    HOME2="$WORK/open-$SCALE"; mkdir -p "$HOME2"; : >"$WORK/capture-$SCALE.qv"
    start_program "$HOME2" "$SCALE" "$WORK/capture-$SCALE.qv"
    MAIN=$(find_window "^capture-$SCALE.qv - Quorvane$" 15)
    check "an absolute path on the command line opens that file" test -n "$MAIN"
    check "opening a file shows no adapter dialog" test -z "$(xdotool search --onlyvisible --name '^Select Adapter$' 2>/dev/null)"
    [ -n "$MAIN" ] && keys "$MAIN" alt+f x
    wait_exit >/dev/null; PROG=""

    # A FIFO where the setting file belongs does not hang start-up.
    HOME3="$WORK/fifo-$SCALE"; mkdir -p "$HOME3/.config/Tembrook"; mkfifo "$HOME3/.config/Tembrook/Quorvane.conf"
    start_program "$HOME3" "$SCALE"
    DIALOG=$(find_window "^Select Adapter$" 15)
    check "a FIFO at the setting's path does not hang start-up" test -n "$DIALOG"
    kill "$PROG" 2>/dev/null; wait "$PROG" 2>/dev/null; PROG=""
    stop_desktop
done

if [ "$FAILURES" -ne 0 ]; then
    echo "--- program output"; tail -20 "$WORK/program.log"
    echo "$FAILURES failures"; exit 1
fi
echo "all passed"
