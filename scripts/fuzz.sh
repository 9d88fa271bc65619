#!/usr/bin/env bash
# Fuzzes, for a bounded time, the packet record and the detail window's dump,
# the capture file reader, and the reader of the capture helper's pcapng
# stream: builds fuzz/PacketFuzzer.cpp, fuzz/CaptureFileFuzzer.cpp and
# fuzz/PcapngFuzzer.cpp with clang, libFuzzer, AddressSanitizer and UBSan in
# its own build folder, lets the packet tests write the seed corpora (their
# decoding cases, and capture files of every link type, whose pcapng ones
# seed the stream reader too), then runs the targets from them. A crash, a
# sanitizer report or a failed check ends the script with a failure and
# leaves the input in build-fuzz/artifacts/.
#   QV_FUZZ_SECONDS  fuzzing time in seconds for all three (default 120: half
#                    for the packet, a quarter each for the two readers)
#   QV_FUZZ_JOBS     parallel build jobs (default: ninja's own choice)
set -eu
cd "$(dirname "$0")/.."
dir=build-fuzz
seconds=${QV_FUZZ_SECONDS:-120}

cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQV_SANITIZE=address -DQV_FUZZ=ON -DQV_WITH_GUI=OFF -DQV_WITH_BENCH=OFF >/dev/null
cmake --build "$dir" --target packet_fuzzer capture_file_fuzzer pcapng_fuzzer packet_tests ${QV_FUZZ_JOBS:+--parallel "$QV_FUZZ_JOBS"}

rm -rf "$dir/seeds" "$dir/corpus" "$dir/file-seeds" "$dir/file-corpus" "$dir/stream-corpus"
mkdir -p "$dir/seeds" "$dir/corpus" "$dir/file-seeds" "$dir/file-corpus" "$dir/stream-corpus" "$dir/artifacts"
QV_FUZZ_CORPUS="$dir/seeds" QV_FUZZ_FILE_CORPUS="$dir/file-seeds" "$dir/tests/packet/packet_tests" \
  --gtest_filter='*FuzzSeedCorpus*'
test -n "$(ls -A "$dir/seeds")" || { echo "fuzz: the packet tests wrote no seeds" >&2; exit 1; }
test -n "$(ls -A "$dir/file-seeds")" || { echo "fuzz: the packet tests wrote no capture file seeds" >&2; exit 1; }
file_seconds=$((seconds / 4))
stream_seconds=$((seconds / 4))
seconds=$((seconds - file_seconds - stream_seconds))

# Inputs up to 4 KiB: the header fields lie in the first 80 bytes and the dump
# repeats per 16 bytes; the length checks cover every size up to there.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$dir/fuzz/packet_fuzzer" "$dir/corpus" "$dir/seeds" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/"

# Whole files up to 64 KiB: a header, a few records and a damaged tail fit.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$dir/fuzz/capture_file_fuzzer" "$dir/file-corpus" "$dir/file-seeds" -max_total_time="$file_seconds" \
  -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/"

# Streams up to 64 KiB: room for several blocks and their splits.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$dir/fuzz/pcapng_fuzzer" "$dir/stream-corpus" "$dir/file-seeds" -max_total_time="$stream_seconds" \
  -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/"
