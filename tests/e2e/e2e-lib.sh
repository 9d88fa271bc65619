# Shared by the end-to-end scripts (sourced): pass/fail counting, an Xvfb
# display, finding windows and typing into them with xdotool, waiting for the
# program to end, bounded loopback traffic, and measuring what changed on
# screen. The caller sets WORK (a scratch folder) first.

FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
ok() { echo "ok: $*"; }

# Starts Xvfb on a free-looking display and waits until it answers; sets
# DISPLAY and XVFB. Any user may connect (-ac): the test's users run there.
start_xvfb() {
    local number=$((90 + RANDOM % 400))
    Xvfb ":$number" -screen 0 1280x1024x24 -ac -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    XVFB=$!
    export DISPLAY=":$number"
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

# Window id of the first window whose name matches, waiting up to $2 seconds.
find_window() { timeout "${2:-10}" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1; }
keys() { xdotool windowfocus --sync "$1" 2>/dev/null; shift; for k in "$@"; do xdotool key "$k"; sleep 0.3; done; }

# Waits up to 10 s for the program PROG to end; echoes its exit status.
wait_exit() {
    for _ in $(seq 100); do kill -0 "$PROG" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$PROG" 2>/dev/null; then echo "running"; return; fi
    wait "$PROG"; echo $?
}

send_udp() {  # bounded: $1 datagrams, 20 ms apart, to 127.0.0.1
    python3 - "$1" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(int(sys.argv[1])):
    s.sendto(b"quorvane e2e %d" % i, ("127.0.0.1", 9))
    time.sleep(0.02)
PY
}

# Pixels that differ in the list area (below the column headers) between two
# screenshots of the main window: rows of text change thousands of them.
rows_changed() {
    local f
    for f in "$1" "$2"; do convert "$f" -crop 500x200+0+72 +repage "$f.rows.png"; done
    compare -metric AE "$1.rows.png" "$2.rows.png" null: 2>&1 | cut -d' ' -f1 | cut -d. -f1
}

