#!/usr/bin/env bash
# Resident memory per captured datagram of the built program and of the
# Wireshark GUI, both capturing the same bounded loopback flood in the same run.
# Both run under Xvfb inside a private network namespace (unshare -n), so lo is
# the only interface and every datagram stays in it. Needs root.
#   peer-memory.sh PROGRAM COUNT [RATE]
# COUNT 60-byte UDP datagrams (20 + 8 + 32 payload bytes) are sent to
# 127.0.0.1 at RATE per second (default 50000); each process's VmRSS is read
# before the flood and once it has stopped growing, and the growth is divided
# by COUNT. Prints one line per process, and how long the program takes to
# exit with all its rows (File, Exit). A screenshot of the screen at the end
# goes to /tmp/quorvane-peer-COUNT.png (Wireshark's status bar shows how many
# packets it captured).
set -u
PROGRAM=$(readlink -f "$1")
COUNT=$2
RATE=${3:-50000}

if [ -z "${QV_PEER_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "needs root"; exit 77; }
    QV_PEER_INSIDE=1 exec unshare -n "$0" "$@"
fi

WORK=$(mktemp -d /tmp/quorvane-peer.XXXXXX)
chmod 755 "$WORK"
ip link set lo up
DISPLAY_NUMBER=$((500 + RANDOM % 400))
Xvfb ":$DISPLAY_NUMBER" -screen 0 1280x1024x24 -ac -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
XVFB=$!
export DISPLAY=":$DISPLAY_NUMBER"
PIDS=""
cleanup() {
    for p in $PIDS; do kill "$p" 2>/dev/null; done
    kill "$XVFB" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

rss() { awk '/^VmRSS/ {print $2 * 1024}' "/proc/$1/status" 2>/dev/null || echo 0; }
# Waits until the process's RSS has not grown by more than 0.5 % for 3 s (at most 300 s).
settle() {
    local last now still=0
    last=$(rss "$1")
    for _ in $(seq 300); do
        sleep 1
        now=$(rss "$1")
        if [ "$now" -le $((last + last / 200)) ]; then still=$((still + 1)); else still=0; fi
        last=$now
        [ "$still" -ge 3 ] && break
    done
    echo "$now"
}

# The program: fresh home, the adapter dialog answered with Enter (127.0.0.1), Capture, Start.
mkdir -p "$WORK/home"
env HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_CACHE_HOME="$WORK/home/.cache" QT_QPA_PLATFORM=xcb \
    "$PROGRAM" >"$WORK/program.log" 2>&1 &
OURS=$!
PIDS="$PIDS $OURS"
DIALOG=$(timeout 15 xdotool search --sync --onlyvisible --name "^Select Adapter$" | head -1)
xdotool windowfocus --sync "$DIALOG"; xdotool key Return
MAIN=$(timeout 15 xdotool search --sync --onlyvisible --name "Quorvane$" | head -1)
xdotool windowfocus --sync "$MAIN"; sleep 0.3; xdotool key alt+c; sleep 0.3; xdotool key s

# The peer: the Wireshark GUI capturing on lo at once.
mkdir -p "$WORK/wshome"
env HOME="$WORK/wshome" XDG_CONFIG_HOME="$WORK/wshome/.config" wireshark -i lo -k >"$WORK/wireshark.log" 2>&1 &
PEER=$!
PIDS="$PIDS $PEER"
sleep 8
OURS_BEFORE=$(settle "$OURS")
PEER_BEFORE=$(settle "$PEER")

python3 - "$COUNT" "$RATE" <<'PY'
import socket, sys, time
count, rate = int(sys.argv[1]), int(sys.argv[2])
sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sink.bind(("127.0.0.1", 0))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
to = sink.getsockname()
payload = b"q" * 32
start = time.monotonic()
sent = 0
while sent < count:
    for _ in range(min(1000, count - sent)):
        s.sendto(payload, to)
    sent += min(1000, count - sent)
    ahead = sent / rate - (time.monotonic() - start)
    if ahead > 0:
        time.sleep(ahead)
print("sent %d in %.1f s" % (count, time.monotonic() - start))
PY

OURS_AFTER=$(settle "$OURS")
PEER_AFTER=$(settle "$PEER")
import -window root "$WORK/screen.png" 2>/dev/null && cp "$WORK/screen.png" "/tmp/quorvane-peer-$COUNT.png"
# Exit with every row still there: File, Exit, timed until the process has ended.
xdotool windowfocus --sync "$MAIN"; sleep 0.3
EXIT_START=$(date +%s.%N)
xdotool key alt+f; sleep 0.2; xdotool key x
for _ in $(seq 600); do kill -0 "$OURS" 2>/dev/null || break; sleep 0.05; done
EXIT_END=$(date +%s.%N)
echo "program exit with its rows: $(awk "BEGIN {printf \"%.2f\", $EXIT_END - $EXIT_START - 0.2}") s (File, Exit to the end of the process)"
echo "program:   $(( (OURS_AFTER - OURS_BEFORE) / COUNT )) bytes per datagram (RSS $((OURS_BEFORE >> 20)) -> $((OURS_AFTER >> 20)) MiB)"
echo "wireshark: $(( (PEER_AFTER - PEER_BEFORE) / COUNT )) bytes per datagram (RSS $((PEER_BEFORE >> 20)) -> $((PEER_AFTER >> 20)) MiB)"
