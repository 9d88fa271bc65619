#!/usr/bin/env bash
# Takes the README's screenshots on a desktop like a user's: Xvfb with the
# openbox window manager, a fresh home, the adapter dialog, the capture
# filter dialog refusing an expression with libpcap's message, the main
# window with captured rows (their timestamps show milliseconds) and the
# detail window of the largest datagram, each with its window frame, written
# to docs/adapter-dialog.png, docs/capture-filter.png, docs/main-window.png and
# docs/packet-window.png (at a scale other than 1 the names end in -scale2
# and so on). Runs as root inside a private network namespace (lo only), so
# the capture sees only the bounded loopback traffic sent here.
#   scripts/screenshots.sh [PROGRAM] [SCALE]   (default build/app/quorvane, 1)
set -eu
cd "$(dirname "$0")/.."
PROGRAM=$(readlink -f "${1:-build/app/quorvane}")
SCALE=${2:-1}
SUFFIX=""
[ "$SCALE" = 1 ] || SUFFIX="-scale$SCALE"
if [ -z "${QV_SHOTS_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "run as root (sudo $0)"; exit 1; }
    QV_SHOTS_INSIDE=1 exec unshare -n "$0" "$PROGRAM" "$SCALE"
fi

WORK=$(mktemp -d /tmp/quorvane-shots.XXXXXX)
ip link set lo up
Xvfb -displayfd 3 -screen 0 "$(awk "BEGIN {print int(1280 * $SCALE) \"x\" int(800 * $SCALE)}")x24" -ac \
    -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$WORK/display")"
PROG=""; WM=""
trap '[ -n "$PROG" ] && kill $PROG 2>/dev/null; [ -n "$WM" ] && kill $WM 2>/dev/null; kill $XVFB 2>/dev/null; wait 2>/dev/null; rm -rf "$WORK"' EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
HOME="$WORK/wm" openbox >/dev/null 2>&1 &
WM=$!
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
xsetroot -solid '#3a6ea5' 2>/dev/null || true

mkdir -p "$WORK/home" docs
HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$SCALE" \
    QT_PLUGIN_PATH="$(dirname "$PROGRAM")/../tests/e2e/plugins" QT_QPA_GENERIC_PLUGINS=qvreport \
    QUORVANE_TEST_REPORT="$WORK/report" "$PROGRAM" >/dev/null 2>&1 &
PROG=$!
DIALOG=$(timeout 15 xdotool search --sync --onlyvisible --name "^Select Adapter$" | head -1)
xdotool windowactivate --sync "$DIALOG"; sleep 0.5
import -frame -window "$DIALOG" "docs/adapter-dialog$SUFFIX.png"
xdotool key Return
MAIN=$(timeout 15 xdotool search --sync --onlyvisible --name "^Untitiled - Quorvane$" | head -1)
sleep 0.5

# Capture > Capture Filter... (above the last item): an expression libpcap
# refuses shows its message; a valid one then applies from Start.
xdotool windowactivate --sync "$MAIN"; xdotool key alt+c; sleep 0.3; xdotool key Up Up Return
FILTER=$(timeout 10 xdotool search --sync --onlyvisible --name "^Capture Filter$" | head -1)
xdotool type --delay 20 "tcp port 8080 or udp port"; xdotool key Return; sleep 0.5
import -frame -window "$FILTER" "docs/capture-filter$SUFFIX.png"
xdotool key ctrl+a; xdotool type --delay 20 "tcp port 8080 or udp port 5353"; xdotool key Return; sleep 0.5

xdotool windowactivate --sync "$MAIN"; xdotool key alt+c; sleep 0.3; xdotool key s; sleep 0.3

# Bounded loopback traffic: a few UDP datagrams and a short HTTP exchange.
python3 - <<'PY'
import socket, threading, time
server = socket.socket(); server.bind(("127.0.0.1", 8080)); server.listen(1); server.settimeout(5)
def serve():
    conn, _ = server.accept(); conn.recv(4000)
    conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + b"hello from loopback\n" * 30); conn.close()
t = threading.Thread(target=serve); t.start()
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(4):
    u.sendto(b"query %d" % i, ("127.0.0.1", 5353)); time.sleep(0.05)
c = socket.create_connection(("127.0.0.1", 8080), timeout=5)
c.sendall(b"GET /index.html HTTP/1.0\r\nHost: localhost\r\nUser-Agent: screenshot\r\nAccept: */*\r\n\r\n")
c.recv(4000); c.close()
t.join(5); server.close()
PY
sleep 1
import -frame -window "$MAIN" "docs/main-window$SUFFIX.png"

# Double-click the largest datagram's row, found in the program's report.
sleep 0.5
R=$(cat "$WORK/report")
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p"; }
L=$(grep "^list" <<<"$R")
ROW=$(awk -F'|' '/^row / {split($1, a, " "); if ($7 + 0 > best) {best = $7 + 0; row = a[2]}} END {print row}' <<<"$R")
# The report is in Qt's logical pixels; xdotool works in the screen's.
Y=$(awk -v t="$(field rowtop <<<"$L")" -v h="$(field rowheight <<<"$L")" -v r="$ROW" -v s="$SCALE" \
    'BEGIN {print int((t + r * h + h / 2) * s)}')
xdotool mousemove --window "$MAIN" 10 "$Y" click --repeat 2 --delay 80 1
PACKET=$(timeout 10 xdotool search --sync --onlyvisible --name "^Packet$" | head -1)
sleep 0.8
import -frame -window "$PACKET" "docs/packet-window$SUFFIX.png"
echo "wrote docs/adapter-dialog$SUFFIX.png, docs/capture-filter$SUFFIX.png, docs/main-window$SUFFIX.png and docs/packet-window$SUFFIX.png"
