#!/usr/bin/env bash
# The install and package stage of CI (as root): installs a build into a
# temporary prefix and checks what holds a capability, the helper's owner,
# group, mode and libraries, the desktop files and a second install; runs the
# installed program as ordinary users (tests/e2e/installed-e2e.sh);
# uninstalls and checks that nothing is left; then builds the Debian package
# with CPack, installs it with apt-get, checks it, starts it once, purges it
# and checks again; installs it once more over a group quorvane made before
# it, with a member, purges it and checks that the group stays as it was. A
# link planted as cmake's install manifest in the build folder must not be
# followed. Skips on a machine that already has the group quorvane or
# the package installed, so it never removes what a person set up.
#   scripts/test-install.sh BUILD_DIR
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(realpath "${1:-build}")
[ "$(id -u)" = 0 ] || { echo "install tests: SKIP (need root)"; exit 0; }
if getent group quorvane >/dev/null || dpkg -s quorvane >/dev/null 2>&1; then
    echo "install tests: SKIP (the group quorvane or the package already exists here)"; exit 0
fi
PASSED=0; FAILED=0
ok() { echo "ok: $*"; PASSED=$((PASSED + 1)); }
fail() { echo "FAIL: $*"; FAILED=$((FAILED + 1)); }
check() { local what=$1; shift; if "$@"; then ok "$what"; else fail "$what"; fi; }

cmake --build "$build" --target quorvane quorvane-capture quorvane-share qvprobe >/dev/null || { echo "FAIL: build"; exit 1; }
prefix=$(mktemp -d /tmp/quorvane-prefix.XXXXXX)
chmod 755 "$prefix"
installer=qvtest-sudo-$$  # the person who runs the install through sudo
useradd --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin --user-group "$installer"
trap 'rm -rf "$prefix"; userdel "$installer" 2>/dev/null' EXIT
helper=$prefix/libexec/quorvane/quorvane-capture

# ---- Install into a temporary prefix, as root through sudo, a user's build folder ----
owner=$(stat -c %u "$build")
rm -f "$build/install_manifest.txt"
chown 65534 "$build"  # the folder only: where cmake writes its manifest
# The folder's owner plants install_manifest.txt as a link to a file of
# root's: the install must neither write through it nor change its owner.
victim=$prefix.victim
echo secret >"$victim"; chmod 600 "$victim"
ln -s "$victim" "$build/install_manifest.txt"
SUDO_USER=$installer scripts/install-program.sh "$build" --prefix "$prefix" >/dev/null 2>&1
check "a planted install_manifest.txt link is not followed as root" \
    [ "$(stat -c '%u:%g %a' "$victim") $(cat "$victim")" = "0:0 600 secret" ]
rm -f "$build/install_manifest.txt" "$victim"
SUDO_USER=$installer scripts/install-program.sh "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log"; fail "install"; }
check "cmake's install manifest written with the build folder owner's rights" [ "$(stat -c %u "$build/install_manifest.txt")" = 65534 ]
chown "$owner" "$build" "$build/install_manifest.txt"
check "the installing person joins the group quorvane" bash -c "id -nG '$installer' | tr ' ' '\n' | grep -qx quorvane"
check "install says a new login is needed for the menu" grep -q "after the next login" "$prefix.log"
rm -f "$prefix.log"

check "getcap lists exactly the helper with cap_net_raw=ep" \
    [ "$(getcap -r "$prefix" 2>/dev/null)" = "$helper cap_net_raw=ep" ]
check "the program holds no capability" [ -z "$(getcap "$prefix/bin/quorvane")" ]
check "helper is root:quorvane 0750" [ "$(stat -c '%U:%G %a' "$helper")" = "root:quorvane 750" ]
check "helper links no Qt" bash -c "! ldd '$helper' | grep -qi qt"
check "helper links only the C and C++ runtime and libseccomp" \
    bash -c "ldd '$helper' | grep -v -E 'linux-vdso|ld-linux|libc\\.so|libstdc\\+\\+|libm\\.so|libgcc_s|libseccomp\\.so' | grep -q . && exit 1 || exit 0"
entry=$prefix/share/applications/quorvane.desktop
check "desktop entry valid" desktop-file-validate "$entry"
check "desktop entry starts the installed program by its path" grep -qx "Exec=\"$prefix/bin/quorvane\"" "$entry"
for size in 16 32 48; do
    check "icon ${size}x$size" [ "$(identify -format '%wx%h' "$prefix/share/icons/hicolor/${size}x$size/apps/quorvane.png" 2>/dev/null)" = "${size}x$size" ]
done
check "metainfo valid" appstreamcli validate --no-net "$prefix/share/metainfo/com.tembrook.quorvane.metainfo.xml"
before=$(cd "$prefix" && find . | sort | md5sum)
scripts/install-program.sh "$build" --prefix "$prefix" >/dev/null 2>&1
check "second install changes nothing" [ "$(cd "$prefix" && find . | sort | md5sum)" = "$before" ]
check "second install keeps the capability" [ "$(getcap -r "$prefix" 2>/dev/null)" = "$helper cap_net_raw=ep" ]

# ---- The installed program as ordinary users ----
if tests/e2e/installed-e2e.sh "$prefix/bin/quorvane" --probe "$build/tests/e2e/plugins/generic/libqvprobe.so" --outsider; then
    ok "installed program as a member and as an outsider"
else
    fail "installed program as a member and as an outsider"
fi

# ---- Uninstall ----
scripts/uninstall-program.sh --prefix "$prefix" >/dev/null
check "uninstall leaves the prefix empty" [ -z "$(find "$prefix" -mindepth 1)" ]
check "uninstall takes the installing person out of the group" bash -c "! id -nG '$installer' | grep -qw quorvane"
check "uninstall removes the group it created" bash -c "! getent group quorvane"

# ---- The Debian package ----
rm -f "$build"/quorvane_*.deb
deb=$(scripts/package.sh "$build" 2>"$prefix.err") || { cat "$prefix.err"; fail "cpack"; }
rm -f "$prefix.err"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
check "package named quorvane_${version}_amd64.deb" [ "$(basename "$deb")" = "quorvane_${version}_amd64.deb" ]
check "package depends on the Qt libraries it links" bash -c "dpkg-deb -f '$deb' Depends | grep -q libqt6widgets6"
if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null 2>"$prefix.apt"; then
    ok "apt-get install ./$(basename "$deb")"
    dpkg -L quorvane >"$prefix.files"
    check "package: getcap lists exactly the helper" \
        [ "$(getcap /usr/libexec/quorvane/quorvane-capture) $(getcap /usr/bin/quorvane)" = "/usr/libexec/quorvane/quorvane-capture cap_net_raw=ep " ]
    check "package: group quorvane is a system group" \
        [ "$(getent group quorvane | cut -d: -f3)" -lt 1000 ]
    check "package: helper is root:quorvane 0750" \
        [ "$(stat -c '%U:%G %a' /usr/libexec/quorvane/quorvane-capture)" = "root:quorvane 750" ]
    check "package: desktop entry says Exec=quorvane" grep -qx "Exec=quorvane" /usr/share/applications/quorvane.desktop
    if tests/e2e/installed-e2e.sh /usr/bin/quorvane; then ok "package: program started and captured"; else fail "package: program run"; fi
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quorvane >/dev/null 2>&1
    check "purge: package gone" bash -c "! dpkg -s quorvane >/dev/null 2>&1"
    check "purge: group gone" bash -c "! getent group quorvane"
    check "purge: no recorded owner or mode left" bash -c "! dpkg-statoverride --list | grep -q quorvane"
    left=$(while read -r f; do case "$f" in *quorvane*) [ -e "$f" ] && echo "$f" ;; esac; done <"$prefix.files")
    check "purge: none of the package's files left" [ -z "$left" ]
    rm -f "$prefix.files"
else
    cat "$prefix.apt"; fail "apt-get install ./$(basename "$deb")"
fi
rm -f "$prefix.apt"

# ---- The package over a group quorvane that was there before, with a member ----
member=qvtest-grp-$$
groupadd --system quorvane
gid=$(getent group quorvane | cut -d: -f3)
useradd --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin --user-group --groups quorvane "$member"
if DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null 2>"$prefix.apt"; then
    check "package over an existing group: the helper is root:quorvane" \
        [ "$(stat -c '%U:%G' /usr/libexec/quorvane/quorvane-capture)" = "root:quorvane" ]
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq quorvane >/dev/null 2>&1
    check "purge: package gone" bash -c "! dpkg -s quorvane >/dev/null 2>&1"
    check "purge keeps a group it did not create, with its gid" [ "$(getent group quorvane | cut -d: -f3)" = "$gid" ]
    check "purge keeps the group's member" bash -c "id -nG '$member' | tr ' ' '\n' | grep -qx quorvane"
else
    cat "$prefix.apt"; fail "apt-get install ./$(basename "$deb") over an existing group"
fi
rm -f "$prefix.apt"
userdel "$member" 2>/dev/null
groupdel quorvane 2>/dev/null

echo "install: $PASSED passed, $FAILED failed"
[ "$FAILED" = 0 ]
