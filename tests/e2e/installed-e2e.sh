#!/usr/bin/env bash
# End to end on an installed program, as ordinary users made by this test,
# under Xvfb inside a private network namespace (lo only, so 127.0.0.1 is the
# only adapter and the traffic stays there). Needs root and the group
# quorvane, which the install step creates.
#   installed-e2e.sh PROGRAM [--probe PLUGIN_SO] [--outsider]
# A member of the group quorvane chooses 127.0.0.1, starts a capture and sees
# rows for bounded loopback traffic, while the program holds no capability
# and no packet socket (only the helper does, as ss -0 -p lists them); run by
# hand, the helper gives the member a stream (in the ring the member gives
# it) and never a descriptor.
# --probe: the same run loads PLUGIN_SO as a Qt generic plugin through the
# environment; the plugin must find no capability and fail to add an address
# to lo. --outsider: a user outside the group gets the enumeration and
# "Couldn't create capture socket" boxes, no row, and still exits cleanly.
set -u
PROGRAM=$(readlink -f "$1"); shift
PLUGIN=""; OUTSIDER=""
while [ $# -gt 0 ]; do
    case "$1" in
    --probe) PLUGIN=$(readlink -f "$2"); shift 2 ;;
    --outsider) OUTSIDER=1; shift ;;
    *) echo "unknown option $1"; exit 2 ;;
    esac
done
if [ -z "${QV_E2E_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
    getent group quorvane >/dev/null || { echo "FAIL: no group quorvane (install first)"; exit 1; }
    QV_E2E_INSIDE=1 exec unshare -n "$0" "$PROGRAM" ${PLUGIN:+--probe "$PLUGIN"} ${OUTSIDER:+--outsider}
fi

WORK=$(mktemp -d /tmp/quorvane-installed-e2e.XXXXXX)
chmod 755 "$WORK"
. "$(dirname "$(readlink -f "$0")")/e2e-lib.sh"
MEMBER=qvtest-in-$$
OUTSIDE=qvtest-out-$$
PROG=""
# Removes a user this test made. Processes the program left running as that
# user (a session bus it had started, for one) would make userdel refuse and
# leave the user, still a member of quorvane, behind: they are given a moment
# to end, then ended by their ids.
remove_user() {
    local user=$1 pids
    id "$user" >/dev/null 2>&1 || return 0
    for _ in $(seq 20); do pgrep -u "$user" >/dev/null || break; sleep 0.1; done
    pids=$(pgrep -u "$user")
    if [ -n "$pids" ]; then
        kill $pids 2>/dev/null
        sleep 0.5
        pids=$(pgrep -u "$user")
        [ -z "$pids" ] || kill -KILL $pids 2>/dev/null
        sleep 0.2
    fi
    userdel "$user" 2>/dev/null || echo "FAIL: user $user could not be removed"
}
cleanup() {
    [ -n "$PROG" ] && kill "$PROG" 2>/dev/null
    kill "$XVFB" 2>/dev/null
    wait 2>/dev/null
    remove_user "$MEMBER"
    remove_user "$OUTSIDE"
    rm -rf "$WORK"
}
trap cleanup EXIT
ip link set lo up
start_xvfb

make_user() {  # $1 name, $2 extra useradd options
    useradd --no-create-home --home-dir "$WORK/$1" --shell /usr/sbin/nologin --user-group $2 "$1"
    mkdir -p "$WORK/$1"; chown "$1:$1" "$WORK/$1"
}
# Starts the program as user $1 with a clean environment plus VAR=VALUE words.
start_as() {
    local user=$1; shift
    setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i DISPLAY="$DISPLAY" HOME="$WORK/$user" PATH=/usr/bin:/bin QT_QPA_PLATFORM=xcb "$@" "$PROGRAM" \
        >>"$WORK/program.log" 2>&1 &
    PROG=$!
}
capabilities_of() { grep -E '^Cap(Prm|Eff):' "/proc/$1/status" | awk '{print $2}' | sort -u | tr '\n' ' '; }

# ---- A member of the group captures; code loaded into the program holds nothing ----
make_user "$MEMBER" "--groups quorvane"
# With the probe: the environment that makes the program load it, for user $1.
probe_env() {
    [ -n "$PLUGIN" ] || return 0
    mkdir -p "$WORK/plugins/generic" "$WORK/probe-$1"
    cp "$PLUGIN" "$WORK/plugins/generic/"
    chown "$1" "$WORK/probe-$1"
    echo "QT_PLUGIN_PATH=$WORK/plugins QT_QPA_GENERIC_PLUGINS=qvprobe QV_PROBE_OUT=$WORK/probe-$1/report"
}
start_as "$MEMBER" $(probe_env "$MEMBER")
DIALOG=$(find_window "^Select Adapter$" 15)
if [ -n "$DIALOG" ]; then ok "member: adapter dialog"; keys "$DIALOG" Return; else fail "member: no adapter dialog"; fi
MAIN=$(find_window "^Untitiled - Quorvane$" 15)
if [ -n "$MAIN" ]; then
    ok "member: main window"
    sleep 0.5
    import -window "$MAIN" "$WORK/before.png"
    keys "$MAIN" alt+c s
    send_udp 20
    sleep 1
    import -window "$MAIN" "$WORK/after.png"
    DIFF=$(rows_changed "$WORK/before.png" "$WORK/after.png")
    if [ "$DIFF" -gt 1000 ] 2>/dev/null; then ok "member: rows drawn ($DIFF pixels changed)"; else fail "member: no rows ($DIFF)"; fi
    [ -z "$(find_window "^Quorvane$" 1)" ] && ok "member: no error box" || fail "member: an error box at Start"
    CAPS=$(capabilities_of "$PROG")
    [ "$CAPS" = "0000000000000000 " ] && ok "member: program capturing holds no capability" || fail "member: program holds $CAPS"
    # Only the helper holds a packet socket while the member captures.
    HOLDERS=$(ss -0 -p | grep -o 'users:(([^)]*)' | sort -u)
    if [ -n "$HOLDERS" ] && ! echo "$HOLDERS" | grep -qv '^users:(("quorvane-captur",' &&
       ! echo "$HOLDERS" | grep -q "pid=$PROG,"; then
        ok "member: only the helper holds a packet socket"
    else
        fail "member: packet sockets held by: $HOLDERS"
    fi
    keys "$MAIN" alt+f x
    # The captured rows are unsaved: Exit asks first, and No leaves.
    BOX=$(find_window "^Quorvane$" 5)
    [ -n "$BOX" ] && keys "$BOX" alt+n
else
    fail "member: no main window"
fi
STATUS=$(wait_exit)
[ "$STATUS" = 0 ] && ok "member: exit status 0" || fail "member: program after Exit: $STATUS"
PROG=""
grep -qx 'Default%20Adapter=127.0.0.1' "$WORK/$MEMBER/.config/Tembrook/Quorvane.conf" 2>/dev/null \
    && ok "member: adapter 127.0.0.1 chosen" || fail "member: setting not written"
if [ -n "$PLUGIN" ]; then
    REPORT=$(cat "$WORK/probe-$MEMBER/report" 2>/dev/null)
    echo "$REPORT" | sed 's/^/  plugin: /'
    if echo "$REPORT" | grep -q "^CapPrm:[[:space:]]*0000000000000000$" &&
       echo "$REPORT" | grep -q "^CapEff:[[:space:]]*0000000000000000$"; then
        ok "plugin ran with CapPrm and CapEff zero"
    else
        fail "plugin did not run, or ran with a capability"
    fi
    echo "$REPORT" | grep -q "^ip-addr-add: refused$" && ! ip -4 addr show dev lo | grep -q 127.77.0.1 \
        && ok "plugin could not add an address to lo" || fail "plugin added an address to lo"
fi

# ---- The member runs the helper by hand: a stream, never a descriptor ----
HELPER=$(readlink -f "$(dirname "$PROGRAM")/../libexec/quorvane/quorvane-capture")
BYHAND=$(setpriv --reuid="$MEMBER" --regid="$MEMBER" --init-groups /usr/bin/python3 - "$HELPER" "$(cat /sys/class/net/lo/ifindex)" <<'PY'
import array, fcntl, mmap, os, socket, struct, subprocess, sys
ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
helper = subprocess.Popen([sys.argv[1]], stdin=theirs.fileno(), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, env={}, close_fds=True)
theirs.close()
ours.settimeout(5)
descriptors = 0
def message():
    global descriptors
    data, ancillary, flags, _ = ours.recvmsg(64, socket.CMSG_SPACE(16 * 4))
    descriptors += len(ancillary)
    return data
def reply():
    data = message()
    return struct.unpack("Ii", data)[1] if len(data) == 8 else -1
first = reply()
# The output ring: a sealed memfd of a 64 KiB header and 1 MiB of stream;
# the program waits (the word at 128) for the helper's first publication.
HEADER, RING = 1 << 16, 1 << 20
ring = os.memfd_create("ring", os.MFD_CLOEXEC | os.MFD_ALLOW_SEALING)
os.ftruncate(ring, HEADER + RING)
fcntl.fcntl(ring, fcntl.F_ADD_SEALS, fcntl.F_SEAL_SHRINK | fcntl.F_SEAL_GROW)
view = mmap.mmap(ring, HEADER + RING)
view[128:132] = struct.pack("I", 1)
request = struct.pack("IIiIIIII", 0x51564332, 2, int(sys.argv[2]), 1 << 17, 16, 10, RING, 0)
ours.sendmsg([request], [(socket.SOL_SOCKET, socket.SCM_RIGHTS, array.array("i", [ring]))])
os.close(ring)
second = reply() if first == 0 else -1
stream = b""
if second == 0:
    message()
    head = struct.unpack("Q", view[0:8])[0]
    stream = view[HEADER:HEADER + min(head, 4)]
ours.close()
helper.wait(5)
print("replies %d %d descriptors %d stream %s" % (first, second, descriptors, stream.hex()))
PY
)
echo "  by hand: $BYHAND"
[ "$BYHAND" = "replies 0 0 descriptors 0 stream 0a0d0d0a" ] \
    && ok "member: the helper run by hand streams and hands over no descriptor" \
    || fail "member: the helper run by hand: $BYHAND"

# ---- A user outside the group may not capture ----
if [ -n "$OUTSIDER" ]; then
    make_user "$OUTSIDE" ""
    start_as "$OUTSIDE" $(probe_env "$OUTSIDE")
    # Listing the adapters fails first: its box, then the main window.
    BOX=$(find_window "^Quorvane$" 15)
    if [ -n "$BOX" ]; then ok "outsider: a box at start"; keys "$BOX" Return; else fail "outsider: no box at start"; fi
    DIALOG=$(find_window "^Select Adapter$" 2)
    [ -n "$DIALOG" ] && keys "$DIALOG" Return
    MAIN=$(find_window "^Untitiled - Quorvane$" 15)
    if [ -n "$MAIN" ]; then
        sleep 0.5
        import -window "$MAIN" "$WORK/out-before.png"
        keys "$MAIN" alt+c s
        BOX=$(find_window "^Quorvane$" 10)
        if [ -n "$BOX" ]; then ok "outsider: a box at Start"; keys "$BOX" Return; else fail "outsider: no box at Start"; fi
        send_udp 10
        sleep 1
        import -window "$MAIN" "$WORK/out-after.png"
        DIFF=$(rows_changed "$WORK/out-before.png" "$WORK/out-after.png")
        if [ "$DIFF" -lt 1000 ] 2>/dev/null; then ok "outsider: no rows ($DIFF pixels changed)"; else fail "outsider: the list changed ($DIFF)"; fi
        keys "$MAIN" alt+f x
    else
        fail "outsider: no main window"
    fi
    STATUS=$(wait_exit)
    [ "$STATUS" = 0 ] && ok "outsider: responsive, exit status 0" || fail "outsider: program after Exit: $STATUS"
    PROG=""
    if [ -n "$PLUGIN" ]; then
        # The probe recorded the boxes' texts, in order.
        BOXES=$(grep '^box: ' "$WORK/probe-$OUTSIDE/report" 2>/dev/null)
        EXPECTED=$(printf "box: Failed to create socket for enumerating interfaces\nbox: Couldn't create capture socket")
        [ "$BOXES" = "$EXPECTED" ] && ok "outsider: the boxes said what a failed socket says" \
            || fail "outsider: boxes were: $BOXES"
    fi
fi

if [ "$FAILURES" -ne 0 ]; then
    echo "--- program output"; tail -20 "$WORK/program.log"
    echo "$FAILURES failures"; exit 1
fi
echo "all passed"
