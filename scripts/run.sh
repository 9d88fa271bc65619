#!/usr/bin/env bash
# Installs what is needed, builds, installs the program with the capture
# capabilities and a desktop entry, and starts it as the calling user.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
scripts/install-program.sh build
exec build/app/quorvane "$@"
