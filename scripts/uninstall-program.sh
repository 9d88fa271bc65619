#!/usr/bin/env bash
# Removes what scripts/install-program.sh installed under the prefix (default
# /usr/local): every installed file, the directories the install created, the
# users it added to the group quorvane, and the group itself if the install
# created it (the same gid) and no one else is in it. Needs root (asks sudo for it).
#   scripts/uninstall-program.sh [--prefix DIR]
set -eu
self=$(realpath "$0")
prefix=/usr/local
while [ $# -gt 0 ]; do
    case "$1" in
    --prefix) [ $# -ge 2 ] || { echo "usage: uninstall-program.sh [--prefix DIR]" >&2; exit 2; }; prefix=$2; shift 2 ;;
    *) echo "usage: uninstall-program.sh [--prefix DIR]" >&2; exit 2 ;;
    esac
done
prefix=$(realpath -m "$prefix")
[ "$(id -u)" -eq 0 ] || exec sudo "$self" --prefix "$prefix"
state=$prefix/share/quorvane
[ -f "$state/installed-files" ] || { echo "Quorvane is not installed under $prefix." >&2; exit 1; }

while IFS= read -r file; do
    case "$file" in "$prefix"/*) rm -f "$file" ;; esac
done <"$state/installed-files"

if [ -f "$state/added-users" ]; then
    while IFS= read -r user; do gpasswd -d "$user" quorvane >/dev/null 2>&1 || true; done <"$state/added-users"
fi
if [ -f "$state/created-group" ] && getent group quorvane >/dev/null; then
    gid=$(getent group quorvane | cut -d: -f3)
    members=$(getent group quorvane | cut -d: -f4)
    made=$(cat "$state/created-group")
    if [ -n "$made" ] && [ "$made" != "$gid" ]; then
        echo "The group quorvane is not the one this install made (gid $gid, not $made); it stays." >&2
    elif [ -z "$members" ] && ! getent passwd | cut -d: -f4 | grep -qx "$gid"; then
        groupdel quorvane
    else
        echo "The group quorvane still has members ($members); it stays." >&2
    fi
fi
created=$(cat "$state/created-directories" 2>/dev/null || true)
rm -f "$state/installed-files" "$state/created-directories" "$state/created-group" "$state/added-users"
# Deepest first; a directory that holds anything else stays.
for d in $(printf '%s\n' $created "$state" | sort -ru); do
    case "$d" in "$prefix"/*) rmdir "$d" 2>/dev/null || true ;; esac
done
echo "Removed Quorvane from $prefix."
