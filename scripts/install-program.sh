#!/usr/bin/env bash
# Installs a built Quorvane the way Linux programs are installed, through
# `cmake --install`: bin/quorvane, the capture-socket helper under
# libexec/quorvane/, the desktop entry, icons and AppStream metainfo. The
# helper is the only file with a capability: root:quorvane, mode 0750,
# cap_net_raw=ep. The group quorvane is created as a system group when
# missing, and the person running this through sudo (SUDO_USER) joins it.
# Needs root (asks sudo for it); running it again is harmless.
#   scripts/install-program.sh BUILD_DIR [--prefix DIR]   (default /usr/local)
# What was installed is recorded in PREFIX/share/quorvane/ for
# scripts/uninstall-program.sh.
set -eu
self=$(realpath "$0")
usage() { echo "usage: install-program.sh BUILD_DIR [--prefix DIR]" >&2; exit 2; }
[ $# -ge 1 ] || usage
build=$(realpath "$1"); shift
prefix=/usr/local
while [ $# -gt 0 ]; do
    case "$1" in
    --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift 2 ;;
    *) usage ;;
    esac
done
mkdir -p "$prefix" 2>/dev/null || true
prefix=$(realpath -m "$prefix")
for f in app/quorvane libexec/quorvane/quorvane-capture; do
    [ -x "$build/$f" ] || { echo "no built $f in $build (build the targets quorvane quorvane-capture quorvane-share)" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || exec sudo "$self" "$build" --prefix "$prefix"

umask 022
state=$prefix/share/quorvane
helper=$prefix/libexec/quorvane/quorvane-capture
# Directories this install creates, so that uninstalling removes them again.
dirs="bin libexec libexec/quorvane share share/applications share/metainfo share/quorvane share/icons
      share/icons/hicolor"
for size in 16 32 48; do dirs="$dirs share/icons/hicolor/${size}x$size share/icons/hicolor/${size}x$size/apps"; done
created=""
for d in $dirs; do [ -d "$prefix/$d" ] || created="$created $prefix/$d"; done

cmake --install "$build" --prefix "$prefix" --strip >/dev/null
# cmake wrote the manifest as root into the build folder: give it back.
chown --reference="$build" "$build/install_manifest.txt"
mkdir -p "$state"
touch "$state/installed-files"
{ cat "$build/install_manifest.txt"; echo; cat "$state/installed-files"; } | sed '/^$/d' | sort -u >"$state/installed-files.new"
mv "$state/installed-files.new" "$state/installed-files"
for d in $created; do echo "$d"; done >>"$state/created-directories"

if ! getent group quorvane >/dev/null; then
    groupadd --system quorvane
    touch "$state/created-group"
fi
chown root:quorvane "$helper"
chmod 0750 "$helper"
if ! setcap cap_net_raw=ep "$helper"; then
    echo "The file system under $prefix cannot hold capabilities: only root can capture." >&2
fi

user=${SUDO_USER:-}
if [ -n "$user" ] && [ "$user" != root ]; then
    if ! id -nG "$user" | tr ' ' '\n' | grep -qx quorvane; then
        gpasswd -a "$user" quorvane >/dev/null
        echo "$user" >>"$state/added-users"
    fi
    echo "$user may capture: member of the group quorvane. Programs started from the menu"
    echo "get the group after the next login; until then start it with: sg quorvane quorvane"
    # Earlier versions put a desktop entry into the user's home that points at
    # the checkout; it would hide the installed one.
    home=$(getent passwd "$user" | cut -d: -f6)
    for old in applications/quorvane.desktop icons/hicolor/16x16/apps/quorvane.png icons/hicolor/32x32/apps/quorvane.png; do
        rm -f "$home/.local/share/$old"
    done
fi
echo "Installed Quorvane under $prefix (start it with the menu entry \"Quorvane\" or with quorvane)."
