#!/usr/bin/env bash
# Installs the built program for the calling user: grants BUILD_DIR/app/quorvane
# the capture capabilities (cap_net_raw, cap_net_admin), so it runs as that
# user with their own settings, and installs a desktop entry with the
# application icon under the user's ~/.local/share. Under sudo the files go to
# the invoking user's home and belong to that user. Safe to run again.
set -eu
cd "$(dirname "$0")/.."
build=${1:?usage: install-program.sh BUILD_DIR}
bin=$(realpath "$build/app/quorvane")
[ -x "$bin" ] || { echo "no built program at $bin" >&2; exit 1; }

sudo_=""
[ "$(id -u)" -eq 0 ] || sudo_="sudo"

# The capabilities replace the administrator rights the manifest asks for.
$sudo_ setcap cap_net_raw,cap_net_admin+ep "$bin"

user=$(id -un)
home=$HOME
if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != "$user" ]; then
  user=$SUDO_USER
  home=$(getent passwd "$user" | cut -d: -f6)
fi
share="$home/.local/share"
icon32="$share/icons/hicolor/32x32/apps/quorvane.png"
icon16="$share/icons/hicolor/16x16/apps/quorvane.png"
entry="$share/applications/quorvane.desktop"

# Under sudo the user's own files are written as that user.
as_user=""
[ "$(id -un)" = "$user" ] || as_user="runuser -u $user --"
$as_user mkdir -p "$(dirname "$icon32")" "$(dirname "$icon16")" "$(dirname "$entry")"
$as_user convert app/res/mainframe32.xpm "$icon32"
$as_user convert app/res/mainframe16.xpm "$icon16"
sed -e "s|@QUORVANE_BIN@|$bin|" -e "s|@QUORVANE_ICON@|$icon32|" share/quorvane.desktop | $as_user tee "$entry.tmp" >/dev/null
$as_user mv "$entry.tmp" "$entry"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry"
fi
echo "installed $entry"
