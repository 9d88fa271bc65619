#!/usr/bin/env bash
# Fuzzes the packet record and the detail window's dump for a bounded time,
# then the reader of the capture helper's pcapng stream for as long:
# builds fuzz/PacketFuzzer.cpp with clang, libFuzzer, AddressSanitizer and
# UBSan in its own build folder, lets the packet tests write the seed corpus
# (their decoding cases), then runs the target from it. A crash, a sanitizer
# report or a failed check ends the script with a failure and leaves the
# input in build-fuzz/artifacts/.
#   QV_FUZZ_SECONDS  fuzzing time in seconds (default 120)
#   QV_FUZZ_JOBS     parallel build jobs (default: ninja's own choice)
set -eu
cd "$(dirname "$0")/.."
dir=build-fuzz
seconds=${QV_FUZZ_SECONDS:-120}

cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQV_SANITIZE=address -DQV_FUZZ=ON -DQV_WITH_GUI=OFF -DQV_WITH_BENCH=OFF >/dev/null
cmake --build "$dir" --target packet_fuzzer pcapng_fuzzer packet_tests ${QV_FUZZ_JOBS:+--parallel "$QV_FUZZ_JOBS"}

rm -rf "$dir/seeds" "$dir/corpus" "$dir/stream-corpus"
mkdir -p "$dir/seeds" "$dir/corpus" "$dir/stream-corpus" "$dir/artifacts"
QV_FUZZ_CORPUS="$dir/seeds" "$dir/tests/packet/packet_tests" --gtest_filter='*FuzzSeedCorpus*'
test -n "$(ls -A "$dir/seeds")" || { echo "fuzz: the packet tests wrote no seeds" >&2; exit 1; }

# Inputs up to 4 KiB: the header fields lie in the first 80 bytes and the dump
# repeats per 16 bytes; the length checks cover every size up to there.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$dir/fuzz/packet_fuzzer" "$dir/corpus" "$dir/seeds" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/"

# Streams up to 64 KiB: room for several blocks and their splits.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$dir/fuzz/pcapng_fuzzer" "$dir/stream-corpus" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/"
