#!/bin/sh
# Builds the fuzzers with clang and libFuzzer and runs each for a bounded
# time, side by side: qvunpack's from a fixed seed corpus (written by
# make_seeds from the test archive writer) for FUZZ_SECONDS (30 by default),
# and the one of what the device sends for DEVICE_FUZZ_SECONDS (30 by
# default). New inputs go to scratch corpora in the build folder. Exits
# non-zero on any crash or sanitizer report; the programs' own messages are
# kept off the log, and each fuzzer's report is shown whole after the other's.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build="$here/../../build-fuzz"
seconds=${FUZZ_SECONDS:-30}
device_seconds=${DEVICE_FUZZ_SECONDS:-30}

if ! command -v clang++ >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q clang
fi

generator=
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi
# shellcheck disable=SC2086
cmake -S "$here" -B "$build" $generator -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc 2>/dev/null || echo 2)"
mkdir -p "$build/corpus" "$build/seeds" "$build/device_corpus"
"$build/make_seeds" "$build/seeds"
cd "$build"
rm -rf sandbox_*
./qvunpack_fuzz -seed=1 -max_total_time="$seconds" -max_len=65536 -timeout=10 -close_fd_mask=2 \
  -artifact_prefix="$build/" -dict="$here/archive.dict" "$build/corpus" "$build/seeds" >qvunpack_fuzz.log 2>&1 &
archive_fuzzer=$!
./device_fuzz -seed=1 -max_total_time="$device_seconds" -max_len=8192 -timeout=10 -close_fd_mask=2 \
  -artifact_prefix="$build/" -dict="$here/device.dict" "$build/device_corpus" >device_fuzz.log 2>&1 &
device_fuzzer=$!
status=0
wait "$archive_fuzzer" || status=1
cat qvunpack_fuzz.log
wait "$device_fuzzer" || status=1
cat device_fuzz.log
exit "$status"
