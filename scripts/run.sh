#!/usr/bin/env bash
# Installs what is needed, builds, installs the program with the capture
# capabilities and a desktop entry, and starts it as the calling user. When
# run through sudo, the program starts as SUDO_USER with that user's own home
# and settings, not as root; the capabilities on the file let it capture.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
scripts/install-program.sh build
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    user_home=$(getent passwd "$SUDO_USER" | cut -d: -f6)
    exec runuser -u "$SUDO_USER" -- env -u XDG_CONFIG_HOME HOME="$user_home" USER="$SUDO_USER" \
        LOGNAME="$SUDO_USER" build/app/quorvane "$@"
fi
exec build/app/quorvane "$@"
