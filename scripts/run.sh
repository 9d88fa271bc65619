#!/usr/bin/env bash
# Installs what is needed, builds the program (no tests, no benchmarks),
# installs it under /usr/local and starts it. Asks for sudo once: installing
# packages, installing the files and giving the capture-socket helper its
# capability and group need root. The build and the program run as the
# person who called it (SUDO_USER), and the program starts in the group
# quorvane at once, so it can capture on this first run.
#   scripts/run.sh
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || exec sudo "$here/scripts/run.sh" "$@"
cd "$here"
user=${SUDO_USER:-root}
as_user() {
    if [ "$user" = root ]; then "$@"; return; fi
    local home
    home=$(getent passwd "$user" | cut -d: -f6)
    # runuser reads the user's groups afresh, so a group joined just now counts.
    runuser -u "$user" -- env -u XDG_CONFIG_HOME HOME="$home" USER="$user" LOGNAME="$user" "$@"
}

scripts/install-deps.sh
as_user cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_WITH_BENCH=OFF >/dev/null
as_user cmake --build build-release --target quorvane quorvane-capture quorvane-share
scripts/install-program.sh build-release
as_user /usr/local/bin/quorvane "$@"
