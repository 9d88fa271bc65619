#!/usr/bin/env bash
# Configures and builds into the given folder (default build/); extra arguments go to CMake.
set -eu
cd "$(dirname "$0")/.."
dir=${1:-build}; shift || true
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir"
