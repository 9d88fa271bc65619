#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb: the main window with captured
# rows and the detail window of one datagram, written to docs/main-window.png
# and docs/packet-window.png. Runs as root inside a private network namespace
# (lo only), so the capture sees only the bounded loopback traffic sent here.
#   scripts/screenshots.sh [PROGRAM]   (default build/app/quorvane)
set -eu
cd "$(dirname "$0")/.."
PROGRAM=$(readlink -f "${1:-build/app/quorvane}")
if [ -z "${QV_SHOTS_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "run as root (sudo $0)"; exit 1; }
    QV_SHOTS_INSIDE=1 exec unshare -n "$0" "$PROGRAM"
fi

WORK=$(mktemp -d /tmp/quorvane-shots.XXXXXX)
ip link set lo up
Xvfb :$((500 + RANDOM % 400)) -screen 0 1024x768x24 -ac -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
export DISPLAY=$(ps -o args= -p $XVFB | awk '{print $2}')
PROG=""
trap '[ -n "$PROG" ] && kill $PROG 2>/dev/null; kill $XVFB 2>/dev/null; wait 2>/dev/null; rm -rf "$WORK"' EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -p "$WORK/home" docs
HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" QT_QPA_PLATFORM=xcb "$PROGRAM" >/dev/null 2>&1 &
PROG=$!
DIALOG=$(timeout 15 xdotool search --sync --onlyvisible --name "^Select Adapter$" | head -1)
xdotool windowfocus --sync "$DIALOG"; xdotool key Return
MAIN=$(timeout 15 xdotool search --sync --onlyvisible --name "^Untitiled - Quorvane$" | head -1)
xdotool windowsize --sync "$MAIN" 900 420
sleep 0.5
xdotool windowfocus --sync "$MAIN"; xdotool key alt+c; sleep 0.3; xdotool key s; sleep 0.3

# Bounded loopback traffic: a few UDP datagrams, a short TCP exchange, pings.
python3 - <<'PY'
import socket, threading, time
server = socket.socket(); server.bind(("127.0.0.1", 8080)); server.listen(1)
def serve():
    conn, _ = server.accept(); conn.recv(100); conn.sendall(b"HTTP/1.0 200 OK\r\n\r\nhello"); conn.close()
t = threading.Thread(target=serve); t.start()
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(4):
    u.sendto(b"query %d" % i, ("127.0.0.1", 5353)); time.sleep(0.05)
c = socket.create_connection(("127.0.0.1", 8080)); c.sendall(b"GET / HTTP/1.0\r\n\r\n"); c.recv(100); c.close()
t.join(); server.close()
PY
ping -c 2 -i 0.2 127.0.0.1 >/dev/null 2>&1 || true
sleep 1
import -window "$MAIN" docs/main-window.png

# The detail window of the segment carrying the request: rows are 14 pixels
# high below the headers, and it is row 11 (after 8 UDP/ICMP rows and the
# handshake). QV_SHOTS_ROW picks another.
ROW_Y=$((80 + 14 * ${QV_SHOTS_ROW:-11}))
xdotool mousemove --window "$MAIN" 120 "$ROW_Y" click --repeat 2 --delay 80 1
PACKET=$(timeout 10 xdotool search --sync --onlyvisible --name "^Packet$" | head -1)
sleep 0.5
import -window "$PACKET" docs/packet-window.png
echo "wrote docs/main-window.png and docs/packet-window.png"
