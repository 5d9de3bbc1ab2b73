#!/bin/sh
# Builds qvunpack's fuzzer with clang and libFuzzer and runs it from a fixed
# seed corpus (written by make_seeds from the test archive writer) for a
# bounded time (FUZZ_SECONDS, 60 by default). New inputs go to a scratch
# corpus in the build folder. Exits non-zero on any crash or sanitizer
# report; the messages of qvunpack itself are kept off the log.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build="$here/../../build-fuzz"
seconds=${FUZZ_SECONDS:-60}

if ! command -v clang++ >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q clang
fi

cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build"
mkdir -p "$build/corpus" "$build/seeds"
"$build/make_seeds" "$build/seeds"
cd "$build"
rm -rf sandbox_*
./qvunpack_fuzz -seed=1 -max_total_time="$seconds" -max_len=65536 -timeout=10 -close_fd_mask=2 \
  -artifact_prefix="$build/" -dict="$here/archive.dict" "$build/corpus" "$build/seeds"
