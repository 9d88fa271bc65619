#!/usr/bin/env bash
# Installs what is needed, builds and runs every test: the normal build, the
# install and package stage, the decoding, dump and engine tests under
# AddressSanitizer + UBSan, two minutes of fuzzing of the packet record and the
# dump, and the engine and view tests under ThreadSanitizer.
# Capture tests need root (CI runs as root).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

scripts/build.sh build
(cd build && ctest --output-on-failure -j"$jobs" --timeout 300)
scripts/test-install.sh build

scripts/build.sh build-asan -DQV_SANITIZE=address -DQV_WITH_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" --timeout 300 -L 'packet|capture|dump')

scripts/fuzz.sh

scripts/build.sh build-tsan -DQV_SANITIZE=thread -DQV_WITH_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp" \
  ctest --output-on-failure -j"$jobs" --timeout 600 -L 'capture|view')
