#!/usr/bin/env bash
# Whole-process CPU per datagram of the program (with its capture helper, when
# it has one) beside the Wireshark GUI, both
# capturing the same bounded UDP flood on lo under Xvfb, at paced rates and in
# a burst at the sender's full rate. Runs as root inside a private network
# namespace (lo only), so the flood stays there. Per thread for the program
# (the window thread is the process's first thread), per process for
# Wireshark (the GUI and its dumpcap).
#   bench/steady-rate.sh [PROGRAM]
# Environment: QV_RATES (default "10000 50000 0"; 0 is a burst at full rate),
# QV_SECONDS (paced run length, default 10), QV_BURST (burst count, default
# 300000), QV_PAYLOAD (bytes, default 64), QV_PEER (0 runs without Wireshark),
# QV_PERF (file prefix: perf profile of the window thread per run; with
# QV_PERF_ALL=1 of every thread, with DWARF call chains).
set -eu
cd "$(dirname "$0")/.."
PROGRAM=$(readlink -f "${1:-build/app/quorvane}")
if [ -z "${QV_BENCH_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "run as root (sudo $0)"; exit 1; }
    QV_BENCH_INSIDE=1 exec unshare -n "$0" "$PROGRAM"
fi
RATES=${QV_RATES:-10000 50000 0}
SECONDS_PER_RUN=${QV_SECONDS:-10}
BURST=${QV_BURST:-300000}
PAYLOAD=${QV_PAYLOAD:-64}
PEER=${QV_PEER:-1}
HZ=$(getconf CLK_TCK)

WORK=$(mktemp -d /tmp/quorvane-rate.XXXXXX)
ip link set lo up
Xvfb :$((500 + RANDOM % 400)) -screen 0 1280x800x24 -ac -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
export DISPLAY=$(ps -o args= -p $XVFB | awk '{print $2}')
PIDS=""
# Wireshark's dumpcap is its child: ended first, or it outlives the run.
trap 'for p in $PIDS; do pkill -P $p 2>/dev/null || true; kill $p 2>/dev/null || true; done; kill $XVFB 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK"' EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
sleep 1
PIDS="$PIDS $!"

# The first visible window whose name matches, waiting up to 15 s. A search can
# fail with BadWindow while windows come and go, so it is simply repeated.
find_window() {
    for _ in $(seq 150); do
        w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
        [ -n "$w" ] && { echo "$w"; return; }
        sleep 0.1
    done
}

# The program: adapter 127.0.0.1 (the only one), then Capture, Start.
mkdir -p "$WORK/home" "$WORK/wshome"
HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" QT_QPA_PLATFORM=xcb "$PROGRAM" >/dev/null 2>&1 &
QV=$!
PIDS="$PIDS $QV"
DIALOG=$(find_window "^Select Adapter$")
[ -n "$DIALOG" ] || { echo "no adapter dialog"; exit 1; }
xdotool windowactivate --sync "$DIALOG"; xdotool key Return
MAIN=$(find_window "^Untitiled - Quorvane$")
xdotool windowsize --sync "$MAIN" 900 600
xdotool windowactivate --sync "$MAIN"; xdotool key alt+c; sleep 0.3; xdotool key s; sleep 0.5

WS=""
if [ "$PEER" = 1 ]; then
    HOME="$WORK/wshome" XDG_CONFIG_HOME="$WORK/wshome/.config" QT_QPA_PLATFORM=xcb \
        wireshark -i lo -k >/dev/null 2>&1 &
    WS=$!
    PIDS="$PIDS $WS"
    find_window "Wireshark" >/dev/null
    sleep 3
fi

# "tid cpu-ns" for every thread of a process (the scheduler's own count, finer than ticks).
threads() { for t in /proc/$1/task/*; do echo "${t##*/} $(awk '{print $1}' "$t/schedstat" 2>/dev/null || echo 0)"; done; }
# Total ticks of a process and its children (Wireshark's dumpcap).
ticks() { awk '{print $14 + $15}' /proc/$1/stat 2>/dev/null || echo 0; }
children() { pgrep -P "$1" || true; }
# The program's threads and its capture helper's (the helper is its child).
program_threads() { threads $QV; for c in $(children $QV); do threads $c; done; }

send() {  # rate count port
    python3 - "$@" <<'PY'
import socket, sys, time
rate, count, port, payload, flows = (int(a) for a in sys.argv[1:6])
sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); sink.bind(("127.0.0.1", port))
senders = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(flows)]
data, to = b"x" * payload, ("127.0.0.1", port)
start = time.monotonic(); deadline = start + 120
for i in range(count):
    if rate and i % 50 == 0:
        wait = start + i / rate - time.monotonic()
        if wait > 0: time.sleep(wait)
    senders[i % flows].sendto(data, to)
    if i % 10000 == 0 and time.monotonic() > deadline: break
print("%.3f" % (time.monotonic() - start))
PY
}

printf "%-8s %8s %7s | %-44s | %s\n" rate count sent_s "program: us/datagram (total; window; others)" "Wireshark: us/datagram (GUI; dumpcap)"
port=40000
for rate in $RATES; do
    if [ "$rate" = 0 ]; then count=$BURST; else count=$((rate * SECONDS_PER_RUN)); fi
    port=$((port + 1))
    program_threads | sort > "$WORK/before"
    if [ -n "$WS" ]; then
        wb=$(ticks $WS); db=0; for c in $(children $WS); do db=$((db + $(ticks $c))); done
    fi
    PERF=""
    if [ -n "${QV_PERF:-}" ]; then
        # QV_PERF_ALL=1: every thread, with DWARF call chains (Qt has no frame pointers).
        if [ -n "${QV_PERF_ALL:-}" ]; then
            perf record -q -F 499 --call-graph dwarf,16384 -p $QV -o "$QV_PERF.$rate" >/dev/null 2>&1 &
        else
            perf record -q -g -t $QV -o "$QV_PERF.$rate" >/dev/null 2>&1 &
        fi
        PERF=$!
    fi
    sent=$(send "$rate" "$count" "$port" "$PAYLOAD" "${QV_FLOWS:-1}")
    [ -z "$PERF" ] || { kill -INT $PERF; wait $PERF 2>/dev/null || true; }
    sleep ${QV_SETTLE:-2}  # rows and Wireshark's display catch up
    program_threads | sort > "$WORK/after"
    if [ -n "$WS" ]; then
        wa=$(ticks $WS); da=0; for c in $(children $WS); do da=$((da + $(ticks $c))); done
    fi
    prog=$(join -a2 "$WORK/before" "$WORK/after" | awk -v qv=$QV -v n=$count '
        NF == 2 { d = $2 } NF == 3 { d = $3 - $2 }
        { total += d; if ($1 == qv) win = d; else if (d > 1e6) others = others sprintf(" %s:%.2f", $1, d / 1e3 / n) }
        END { printf "%.2f; %.2f;%s", total / 1e3 / n, win / 1e3 / n, others }')
    peer="-"
    if [ -n "$WS" ]; then
        peer=$(awk -v w=$((wa - wb)) -v d=$((da - db)) -v hz=$HZ -v n=$count \
            'BEGIN { printf "%.2f; %.2f", w * 1e6 / hz / n, d * 1e6 / hz / n }')
    fi
    printf "%-8s %8s %7s | %-44s | %s\n" "${rate/#0/burst}" "$count" "$sent" "$prog" "$peer"
done
if [ -n "${QV_SHOT:-}" ]; then
    import -window root "$QV_SHOT"
fi
