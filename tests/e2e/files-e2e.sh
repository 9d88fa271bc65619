#!/usr/bin/env bash
# Capture files and the save prompt as a person meets them: the built program
# on Xvfb with openbox, a fresh home, driven with real keys by xdotool inside
# a private network namespace (lo only; every datagram bounded and to
# 127.0.0.1). With unsaved captured rows, New, Clear, Open, Exit and the close
# box ask "Save changes to TITLE?" (Open once the file is chosen): Cancel
# changes nothing, No goes on without saving, Yes saves through the Save As
# dialog. Saved files are read by tshark and opened again (menu and command
# line); scale 1, and scale 2 for the command line and the prompt.
#   files-e2e.sh PROGRAM    (needs root)
# QV_E2E_SHOTS=DIR keeps a screenshot of each step there.
set -u
PROGRAM=$(readlink -f "$1")

if [ -z "${QV_E2E_INSIDE:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
    command -v openbox >/dev/null || { echo "SKIP: no openbox"; exit 77; }
    QV_E2E_INSIDE=1 exec unshare -n "$0" "$@"
fi

WORK=$(mktemp -d /tmp/quorvane-files.XXXXXX)
chmod 755 "$WORK"
. "$(dirname "$(readlink -f "$0")")/e2e-lib.sh"

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

# This script's programs need no report of their windows: its own start.
start_program() {  # $1 scale, then the program's arguments
    local scale=$1; shift
    env HOME="$HOME1" XDG_CONFIG_HOME="$HOME1/.config" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale" \
        "$PROGRAM" "$@" >>"$WORK/program.log" 2>&1 &
    PROG=$!
}
prompt() { find_window "^Quorvane$" "${1:-5}"; }  # the message box, captioned with the title
frames() { tshark -r "$1" 2>/dev/null | wc -l; }
# Rows on screen: many pixels of the list area differ from the empty list's.
has_rows() { import -window "$MAIN" "$WORK/now.png"; [ "$(rows_changed "$WORK/empty.png" "$WORK/now.png")" -gt 1000 ] 2>/dev/null; }
type_path() {  # into the file dialog $1; a Return the name's completion list took is repeated
    sleep 0.5; activate "$1"; xdotool key ctrl+a; xdotool type --delay 20 "$2"; xdotool key Return
    sleep 1
    if xdotool search --onlyvisible --name "^$(xdotool getwindowname "$1" 2>/dev/null)\$" >/dev/null 2>&1 \
        && [ -n "$(xdotool getwindowname "$1" 2>/dev/null)" ]; then
        activate "$1"; xdotool key Return
    fi
}

start_desktop 1280x1024
HOME1="$WORK/home"; mkdir -p "$HOME1"

# ---- Scale 1: every prompt, with real keys ----
start_program 1
DIALOG=$(find_window "^Select Adapter$" 15)
[ -n "$DIALOG" ] && keys "$DIALOG" Return
MAIN=$(find_window "^Untitiled - Quorvane$" 15)
if [ -z "$MAIN" ]; then fail "no main window"; echo "$FAILURES failures"; exit 1; fi
sleep 0.5
import -window "$MAIN" "$WORK/empty.png"
keys "$MAIN" alt+c s
send_udp 10; sleep 1
has_rows && ok "captured rows shown" || fail "no rows after traffic"

# New: Cancel keeps everything, No drops the rows.
keys "$MAIN" ctrl+n
BOX=$(prompt)
if [ -n "$BOX" ]; then ok "New asks"; shot files-prompt-new-1 "$BOX"; shot files-prompt-new-1-screen; else fail "New did not ask"; fi
[ -n "$BOX" ] && keys "$BOX" Escape
sleep 0.5
[ -z "$(prompt 1)" ] && has_rows && ok "Cancel on New keeps the rows" || fail "Cancel on New changed something"
keys "$MAIN" ctrl+n
BOX=$(prompt)
[ -n "$BOX" ] && keys "$BOX" alt+n
sleep 0.8
has_rows && fail "No on New kept the rows" || ok "No on New drops the rows"

# Clear: Cancel keeps, Yes saves through the Save As dialog, then clears.
send_udp 10; sleep 1
keys "$MAIN" alt+c c
BOX=$(prompt)
[ -n "$BOX" ] && ok "Clear asks" || fail "Clear did not ask"
[ -n "$BOX" ] && keys "$BOX" Escape
sleep 0.5
has_rows && ok "Cancel on Clear keeps the rows" || fail "Cancel on Clear dropped the rows"
keys "$MAIN" alt+c c
BOX=$(prompt)
[ -n "$BOX" ] && keys "$BOX" alt+y
SAVEAS=$(find_window "^Save As$" 10)
if [ -n "$SAVEAS" ]; then
    shot files-save-as-1 "$SAVEAS"
    type_path "$SAVEAS" "$WORK/clear.pcapng"
    for _ in $(seq 50); do [ -s "$WORK/clear.pcapng" ] && break; sleep 0.1; done
    N=$(frames "$WORK/clear.pcapng")
    [ "$N" -ge 10 ] && ok "Yes on Clear saved $N datagrams tshark reads" || fail "saved file holds $N datagrams"
    sleep 0.5
    has_rows && fail "Clear after saving kept the rows" || ok "Clear after saving drops the rows"
    [ -n "$(find_window "^clear.pcapng - Quorvane( - Capturing on .*)?$" 5)" ] && ok "title is the saved file's" || fail "title not the file's"
else
    fail "no Save As dialog after Yes"
fi

# Open: the file is chosen first (as the framework does), then the prompt:
# Cancel keeps the rows and the title, No opens the file.
send_udp 5; sleep 1
import -window "$MAIN" "$WORK/unsaved.png"
keys "$MAIN" ctrl+o
OPEN=$(find_window "^Open$" 10)
if [ -n "$OPEN" ]; then
    shot files-open-1 "$OPEN"
    type_path "$OPEN" "$WORK/clear.pcapng"
    BOX=$(prompt)
    [ -n "$BOX" ] && ok "Open asks" || fail "Open did not ask"
    [ -n "$BOX" ] && keys "$BOX" Escape
    sleep 0.5
    import -window "$MAIN" "$WORK/kept.png"
    [ "$(rows_changed "$WORK/unsaved.png" "$WORK/kept.png")" -lt 100 ] 2>/dev/null \
        && ok "Cancel on Open keeps the rows" || fail "Cancel on Open changed the rows"
else
    fail "no Open dialog"
fi
keys "$MAIN" ctrl+o
OPEN=$(find_window "^Open$" 10)
if [ -n "$OPEN" ]; then
    type_path "$OPEN" "$WORK/clear.pcapng"
    BOX=$(prompt)
    [ -n "$BOX" ] && keys "$BOX" alt+n
    sleep 1.5
    shot files-opened-1 "$MAIN"
    import -window "$MAIN" "$WORK/opened.png"
    has_rows && [ "$(rows_changed "$WORK/unsaved.png" "$WORK/opened.png")" -gt 1000 ] 2>/dev/null \
        && ok "No on Open shows the file's rows" || fail "the file's rows are not shown after Open"
else
    fail "no Open dialog the second time"
fi

# Exit: Cancel keeps the program; the close box then asks too, and No ends it.
keys "$MAIN" alt+c s
send_udp 5; sleep 1
keys "$MAIN" alt+f x
BOX=$(prompt)
[ -n "$BOX" ] && ok "Exit asks" || fail "Exit did not ask"
[ -n "$BOX" ] && keys "$BOX" Escape
sleep 0.5
kill -0 "$PROG" 2>/dev/null && ok "Cancel on Exit keeps the program" || fail "Cancel on Exit ended it"
keys "$MAIN" alt+F4
BOX=$(prompt)
[ -n "$BOX" ] && ok "the close box asks" || fail "the close box did not ask"
[ -n "$BOX" ] && keys "$BOX" alt+n
STATUS=$(wait_exit)
[ "$STATUS" = 0 ] && ok "No on the close box ends the program, status 0" || fail "after No: $STATUS"
PROG=""

# ---- Scale 2: the file on the command line, and the prompt ----
start_program 2 "$WORK/clear.pcapng"
MAIN=$(find_window "^clear.pcapng - Quorvane$" 15)
if [ -n "$MAIN" ]; then
    ok "the command line opens the file"
    sleep 1.5
    shot files-cmdline-2 "$MAIN"
    keys "$MAIN" alt+f x
else
    fail "the command line did not open the file"
fi
STATUS=$(wait_exit)
[ "$STATUS" = 0 ] && ok "rows opened, not captured: Exit asks nothing" || fail "scale 2 exit after opening: $STATUS"
PROG=""
start_program 2
MAIN=$(find_window "^Untitiled - Quorvane$" 15)
if [ -n "$MAIN" ]; then
    keys "$MAIN" alt+c s
    send_udp 3; sleep 1
    keys "$MAIN" ctrl+n
    BOX=$(prompt)
    if [ -n "$BOX" ]; then ok "New asks at scale 2"; shot files-prompt-new-2 "$BOX"; keys "$BOX" alt+n; else fail "no prompt at scale 2"; fi
    keys "$MAIN" alt+f x
else
    fail "scale 2: no main window"
fi
STATUS=$(wait_exit)
[ "$STATUS" = 0 ] && ok "scale 2 exit" || fail "scale 2 exit: $STATUS"
PROG=""

if [ "$FAILURES" -ne 0 ]; then
    echo "--- program output"; tail -20 "$WORK/program.log"
    echo "$FAILURES failures"; exit 1
fi
echo "all passed"
