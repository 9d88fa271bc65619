#!/usr/bin/env bash
# Installs a built Quorvane the way Linux programs are installed, through
# `cmake --install`: bin/quorvane, the capture helper under
# libexec/quorvane/, the desktop entry, icons and AppStream metainfo. The
# helper is the only file with a capability: root:quorvane, mode 0750,
# cap_net_raw=ep. Members of the group quorvane may capture every IPv4
# datagram on every interface of the machine, in promiscuous mode, through
# the helper; they cannot transmit. The group quorvane is created as a system
# group when missing, and the person running this through sudo (SUDO_USER)
# joins it. Needs root (asks sudo for it); running it again is harmless.
#   scripts/install-program.sh BUILD_DIR [--prefix DIR]   (default /usr/local)
# What was installed is recorded in PREFIX/share/quorvane/ for
# scripts/uninstall-program.sh.
#
# The build folder may belong to another user, who can change anything in it
# while this runs. Root therefore writes nothing there and follows nothing
# planted there: `cmake --install` runs with the folder owner's rights into a
# staging folder (so cmake's install_manifest.txt is written as that user),
# the staging folder is then taken over by root and must hold only plain
# files and folders, and root copies from there.
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

# Staged with the build folder owner's rights.
owner=$(stat -c %u "$build")
owner_group=$(stat -c %g "$build")
stage=$(mktemp -d /tmp/quorvane-stage.XXXXXX)
trap 'rm -rf "$stage"' EXIT
chown "$owner:$owner_group" "$stage"
DESTDIR="$stage" setpriv --reuid="$owner" --regid="$owner_group" --clear-groups \
    cmake --install "$build" --prefix "$prefix" --strip >/dev/null
# Root's from here on: the owner can no longer reach it, and what it holds
# must be plain files (one link each) and folders under the prefix.
chown root:root "$stage"
chmod 0700 "$stage"
chown -R -P root:root "$stage"
odd=$(find "$stage" -mindepth 1 \( \( ! -type f ! -type d \) -o \( -type f -links +1 \) \) -print -quit)
[ -z "$odd" ] || { echo "the staged install holds something other than plain files: ${odd#"$stage"}" >&2; exit 1; }
outside=$(find "$stage" -mindepth 1 -type f ! -path "$stage$prefix/*" -print -quit)
[ -z "$outside" ] || { echo "the staged install has a file outside $prefix: ${outside#"$stage"}" >&2; exit 1; }
(cd "$stage$prefix" && find . -type d) | while IFS= read -r d; do mkdir -p "$prefix/$d"; done
(cd "$stage$prefix" && find . -type f) | while IFS= read -r f; do
    install -m "$(stat -c %a "$stage$prefix/$f")" "$stage$prefix/$f" "$prefix/$f"
done
mkdir -p "$state"
touch "$state/installed-files"
{ (cd "$stage$prefix" && find . -type f) | sed "s|^\.|$prefix|"; echo; cat "$state/installed-files"; } |
    sed '/^$/d' | sort -u >"$state/installed-files.new"
mv "$state/installed-files.new" "$state/installed-files"
for d in $created; do echo "$d"; done >>"$state/created-directories"

if ! getent group quorvane >/dev/null; then
    groupadd --system quorvane
    # Its gid, so that uninstalling removes only this group.
    getent group quorvane | cut -d: -f3 >"$state/created-group"
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
    echo "$user may capture: member of the group quorvane, which may capture every IPv4 datagram on"
    echo "every interface of this machine, in promiscuous mode, but not transmit. Programs started from the menu"
    echo "get the group after the next login; until then start it with: sg quorvane quorvane"
    # Earlier versions put a desktop entry into the user's home that points at
    # the checkout; it would hide the installed one.
    home=$(getent passwd "$user" | cut -d: -f6)
    for old in applications/quorvane.desktop icons/hicolor/16x16/apps/quorvane.png icons/hicolor/32x32/apps/quorvane.png; do
        rm -f "$home/.local/share/$old"
    done
fi
echo "Installed Quorvane under $prefix (start it with the menu entry \"Quorvane\" or with quorvane)."
