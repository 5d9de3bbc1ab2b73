#!/bin/bash
# Benchmark (not a test): the whole single-fault sweep of the line simulator
# (tests/sim): every conversation (send, send -v, fetch, fetch -v, list, log
# send and fetch, a package of two files, a program, reset) on every line
# (cable and relay, each with and without echo), with files of 0, 1, 253,
# 254 and 600 bytes, and every fault at every byte both ways, the echo
# included: the 8 bit flips, a drop, a double, 13 insertions of 1 to 8 bytes
# and pauses of 0.1, 1.5 and 12 s. Then 100,000 random double faults. Prints
# each table (rows conversation x line; whole, loud, silent, hang; totals
# and the share whole) and how many conversations a second the simulator
# ran; the cases that ended silent or hung go to a file, one line each,
# which `qvsim --case "<line>"` runs again with both sides' traces.
#
# usage: bench/sweep.sh [BUILD_DIR] [WORKERS]    (default: build, 2)
#   about 6.4 million conversations: some 40 minutes with both cores free.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
workers=${2:-2}
qvsim=$build/bin/qvsim
[ -x "$qvsim" ] || { echo "no $qvsim: cmake --build $build --target qvsim" >&2; exit 2; }
failures=$(mktemp --tmpdir sweep-failures.XXXXXX)

run() {
  local title=$1; shift
  echo "== $title"
  "$qvsim" --sweep --workers "$workers" "$@" > "$failures.part" || true
  grep -v '^FAIL ' "$failures.part"
  grep '^FAIL ' "$failures.part" >> "$failures" || true
  rm -f "$failures.part"
}

run "every single fault at every byte"
run "100,000 random double faults (seed 1)" --doubles 100000 --seed 1
echo "cases that ended silent or hung: $(wc -l < "$failures"), listed in $failures"
