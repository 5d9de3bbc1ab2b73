#!/bin/bash
# Benchmark (not a test): qvcopy through a serial line at the pace of a real
# one (bench/paced_line.cpp): link mode 1, 19200 baud, 10 bits a byte, echo
# on, and the bytes that reach the host held back by a USB adapter's latency
# timer, against qvemu.
#
# Clean: a send and a fetch of SIZE bytes at each latency. Prints the wall
# time, the line time (every byte of both sides' units, echo aside, back to
# back at 19200 baud) and their ratio: what the turnarounds cost.
# Noisy (--noisy N): a 20 KB send and fetch with qvemu --noise at 1e-3 and
# 3e-3 per byte, seeds 1..N, at one latency. Prints the median time against
# the clean time of the same transfer, and how the runs ended: whole, loud
# (non-zero exit), silent (exit 0, wrong file), or still going after 120 s.
#
# usage: bench/paced_line.sh [BUILD_DIR] [options]     (default build)
#   --host-bin DIR       the programs under test (default BUILD_DIR/bin); the
#                        line and qvemu always come from BUILD_DIR
#   --size BYTES         clean transfer size (default 131072)
#   --latencies "L ..."  adapter latencies in ms (default "1 16")
#   --noisy N            also the noisy runs, with N seeds (default none)
#   --noisy-latency L    the adapter latency of the noisy runs (default 16)
#   --jobs N             noisy runs at once (default 4: they mostly wait)
#   --calls              also runs each clean transfer under `strace -c -f`
#                        and prints the host's system calls per file byte:
#                        what a unit costs when its bytes come at line speed
#                        through the adapter's latency, not all at once
set -euo pipefail

build=build
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then build=$1; shift; fi
bin=$(cd "$build/bin" && pwd)
host_bin=$bin
size=131072
latencies="1 16"
noisy=0
noisy_latency=16
jobs=4
calls=0
while [ $# -gt 0 ]; do
  case $1 in
    --host-bin) host_bin=$(cd "$2" && pwd); shift 2 ;;
    --size) size=$2; shift 2 ;;
    --latencies) latencies=$2; shift 2 ;;
    --noisy) noisy=$2; shift 2 ;;
    --noisy-latency) noisy_latency=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --calls) calls=1; shift ;;
    *) echo "paced_line.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -x "$bin/qvemu" ] && [ -x "$host_bin/qvcopy" ] || { echo "build qvemu and qvcopy first" >&2; exit 2; }

work=$(mktemp -d)
source "$(dirname "$0")/emulator_session.sh"
trap 'stop_line; rm -rf "$work"' EXIT
build_paced_line

baud=19200
bits=10
noisy_size=20480
hang=120
# The host program's tracer: strace for the --calls runs.
tracer=()

# run_transfer RUN KIND SIZE LATENCY [QVEMU_OPTIONS...]: one qvcopy send or
# fetch through its own paced line; prints "seconds outcome line_seconds".
run_transfer() {
  local run=$1 kind=$2 bytes=$3 latency=$4; shift 4
  mkdir -p "$run"
  start_emulator "$run" --once "$@"
  start_paced "$run" $baud $bits "$latency"
  head -c "$bytes" "$work/file.bin" > "$run/right.bin"
  local args=(up.bin UP.BIN) result=$run/storage/UP.BIN
  if [ "$kind" = fetch ]; then
    args=(-g DOWN.BIN down.bin) result=$run/host/down.bin
    cp "$run/right.bin" "$run/storage/DOWN.BIN"
  else
    cp "$run/right.bin" "$run/host/up.bin"
  fi
  local start code=0 seconds outcome
  start=$(date +%s.%N)
  (cd "$run/host" && exec timeout -s KILL $hang "${tracer[@]}" "$host_bin/qvcopy" -d "$port" "${args[@]}" > /dev/null \
    2> "$run/err") ||
    code=$?
  seconds=$(seconds_since "$start")
  stop_line
  if [ $code -eq 137 ]; then
    outcome=going
  elif [ $code -ne 0 ]; then
    outcome=loud
  elif cmp -s "$run/right.bin" "$result"; then
    outcome=whole
  else
    outcome=silent
  fi
  local line_bytes_total
  line_bytes_total=$(line_bytes "$run/trace" HD)
  echo "$seconds $outcome $(awk -v n="$line_bytes_total" 'BEGIN { printf "%.2f", n * '$bits' / '$baud' }')"
}

head -c $((size > noisy_size ? size : noisy_size)) /dev/urandom > "$work/file.bin"

echo "qvcopy through a paced line: $baud baud, $bits bits a byte, echo on; host programs $host_bin"
calls_heading=
[ "$calls" -eq 0 ] || calls_heading=$(printf '%8s' calls)
[ -z "$latencies" ] || printf '%-6s %8s %8s %9s %9s %7s%s\n' transfer bytes latency time "line time" ratio "$calls_heading"
for latency in $latencies; do
  for kind in send fetch; do
    read -r seconds outcome line_seconds < <(run_transfer "$work/$kind-$latency" $kind "$size" "$latency")
    [ "$outcome" = whole ] || { echo "$kind at $latency ms did not end whole ($outcome)" >&2; exit 1; }
    calls_column=
    if [ "$calls" -eq 1 ]; then
      tracer=(strace -c -f -o "$work/$kind-$latency-strace/counts")
      mkdir -p "$work/$kind-$latency-strace"
      read -r _ outcome _ < <(run_transfer "$work/$kind-$latency-strace" $kind "$size" "$latency")
      tracer=()
      [ "$outcome" = whole ] || { echo "$kind at $latency ms under strace did not end whole ($outcome)" >&2; exit 1; }
      calls_column=$(awk -v size="$size" '$NF == "total" { printf "%8.3f", $(NF-2) / size }' \
        "$work/$kind-$latency-strace/counts")
    fi
    printf '%-8s %8d %5d ms %7.2f s %7.2f s %6.3f%s\n' $kind "$size" "$latency" "$seconds" "$line_seconds" \
      "$(awk -v a="$seconds" -v b="$line_seconds" 'BEGIN { print a / b }')" "$calls_column"
  done
done

[ "$noisy" -gt 0 ] || exit 0

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo
echo "$noisy_size-byte transfers at $noisy_latency ms, seeds 1..$noisy; runs past $hang s are stopped"
printf '%-6s %6s %9s %9s %6s   %s\n' transfer rate clean median ratio "whole loud silent going"
for kind in send fetch; do
  read -r clean outcome _ < <(run_transfer "$work/$kind-clean" $kind $noisy_size "$noisy_latency")
  [ "$outcome" = whole ] || { echo "a clean $kind did not end whole ($outcome)" >&2; exit 1; }
  for rate in 1e-3 3e-3; do
    mkdir -p "$work/results-$kind-$rate"
    for seed in $(seq "$noisy"); do
      while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
      (trap stop_line EXIT
       run_transfer "$work/$kind-$rate-$seed" $kind $noisy_size "$noisy_latency" --noise "$seed:$rate" \
         > "$work/results-$kind-$rate/$seed") &
    done
    wait
    results=$work/results-$kind-$rate
    counts=$(cat "$results"/* | awk '{ n[$2]++ } END { printf "%5d %4d %6d %5d", n["whole"], n["loud"], n["silent"], n["going"] }')
    middle=$(cat "$results"/* | awk '{ print $1 }' | median)
    printf '%-8s %6s %7.2f s %7.2f s %6.2f   %s\n' $kind $rate "$clean" "$middle" \
      "$(awk -v a="$middle" -v b="$clean" 'BEGIN { print a / b }')" "$counts"
  done
done
