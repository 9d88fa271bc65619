#!/usr/bin/env bash
# Builds the Debian package quorvane_<version>_<arch>.deb from a build folder
# (default build-release, configured for Release when new) with CPack, and
# prints its path. Install it on any Debian 12 machine with
#   sudo apt-get install ./quorvane_<version>_amd64.deb
#   scripts/package.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-release}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_WITH_BENCH=OFF >/dev/null
cmake --build "$build" --target quorvane quorvane-capture quorvane-share >&2
(cd "$build" && cpack -G DEB >/dev/null)
ls "$(realpath "$build")"/quorvane_*.deb
