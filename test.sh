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

passed=0
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Adds the count that a stage's closing line reports to the tally.
count_passed() {  # count_passed <log> <sed expression printing the count>
  n=$(sed -n "$2" "$1" | tail -n 1)
  passed=$((passed + ${n:-0}))
}

run_build() {  # run_build <dir> <cmake options...>
  dir=$1; shift
  # shellcheck disable=SC2086
  cmake -S . -B "$dir" $generator "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-log "$logs/ctest.log"
  count_passed "$logs/ctest.log" 's/.* tests passed, 0 tests failed out of \([0-9][0-9]*\).*/\1/p'
}

run_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON

if [ -x tests/wine/run.sh ]; then
  echo "== tests/wine/run.sh"
  tests/wine/run.sh >"$logs/wine.log" 2>&1 || { cat "$logs/wine.log"; exit 1; }
  cat "$logs/wine.log"
  count_passed "$logs/wine.log" 's/^\[  PASSED  \] \([0-9][0-9]*\) tests\{0,1\}\..*/\1/p'
fi

if [ -x tests/fuzz/run.sh ]; then
  echo "== tests/fuzz/run.sh"
  tests/fuzz/run.sh
  passed=$((passed + 1))  # the fuzzer ran its time out without a finding
fi

echo "summary: $passed passed, 0 failed"
