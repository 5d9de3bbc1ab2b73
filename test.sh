#!/bin/sh
# Builds the suite twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every unit and end-to-end test in
# both builds, then the extra stages that exist (Windows builds under Wine,
# the archive decoder's fuzzer).
set -eu
cd "$(dirname "$0")"
jobs=$(nproc 2>/dev/null || echo 2)
generator=""
if command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi

run_build() {  # run_build <dir> <cmake options...>
  dir=$1; shift
  # shellcheck disable=SC2086
  cmake -S . -B "$dir" $generator "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON

for stage in tests/wine/run.sh tests/fuzz/run.sh; do
  if [ -x "$stage" ]; then
    echo "== $stage"
    "$stage"
  fi
done
