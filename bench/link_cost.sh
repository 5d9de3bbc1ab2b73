#!/bin/bash
# Benchmark (not a test): what one 128 KiB qvcopy send and fetch costs over
# the cable (link mode 1) and through the optical relay (link mode 2),
# against qvemu on a pseudo-terminal, with echo on and off.
#
# For each transfer, a send with -v (which reads the file back) and a fetch
# with -v (which reads it twice) included, it
# prints the wall time, the bytes that crossed the line per file byte (host to
# device, device to host; an echoing line carries the host's bytes back once
# more), the host's system calls per file byte (the median of three runs)
# and its pauses, counted with `strace -c -f`.
#
# usage: bench/link_cost.sh [BUILD_DIR] [--host-bin DIR]   (default: build; needs strace)
#   --host-bin DIR   the programs under test from another build (default
#                    BUILD_DIR/bin); qvemu always comes from BUILD_DIR
set -euo pipefail

build=build
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then build=$1; shift; fi
bin=$(cd "$build/bin" && pwd)
host_bin=$bin
if [ "${1:-}" = --host-bin ]; then host_bin=$(cd "$2" && pwd); fi
[ -x "$bin/qvemu" ] && [ -x "$host_bin/qvcopy" ] || { echo "build qvemu and qvcopy first" >&2; exit 2; }
command -v strace >/dev/null || { echo "strace is needed" >&2; exit 2; }

size=131072
work=$(mktemp -d)
source "$(dirname "$0")/emulator_session.sh"
trap 'stop_line; rm -rf "$work"' EXIT

head -c $size /dev/urandom > "$work/file.bin"

per_byte() {
  awk -v n="$1" -v size=$size 'BEGIN { printf "%.3f", n / size }'
}

# One qvcopy run against a fresh emulator; with "strace" first, under strace.
# Leaves the trace in $run and the seconds taken in $seconds.
run_qvcopy() {
  local run=$1; shift
  local tracer=()
  if [ "$1" = strace ]; then tracer=(strace -c -f -o "$run/strace"); shift; fi
  local emulator_args=()
  while [ "$1" != "--" ]; do emulator_args+=("$1"); shift; done
  shift
  mkdir -p "$run"
  start_emulator "$run" "${emulator_args[@]}"
  cp "$work/file.bin" "$run/host/up.bin"
  cp "$work/file.bin" "$run/storage/DOWN.BIN"
  local start
  start=$(date +%s.%N)
  (cd "$run/host" && "${tracer[@]}" "$host_bin/qvcopy" -d "$port" "$@" > /dev/null 2> "$run/err")
  seconds=$(seconds_since "$start")
  stop_line
  if ! cmp -s "$work/file.bin" "$run/storage/UP.BIN" && ! cmp -s "$work/file.bin" "$run/host/down.bin"; then
    echo "$run: the file did not arrive whole" >&2
    exit 1
  fi
}

# transfer NAME LINK_LETTERS EMULATOR_OPTIONS... -- QVCOPY_ARGUMENTS...
# Timed without strace; counted in three runs under strace, whose median
# count is shown: how many pieces an echo reaches the host in, and so how
# many reads it takes, varies with the load on the machine.
transfer() {
  local name=$1 letters=$2; shift 2
  run_qvcopy "$work/$name" "$@"
  local timed=$seconds
  local counts=()
  for count_run in 1 2 3; do
    run_qvcopy "$work/$name-strace$count_run" strace "$@"
    counts+=("$(awk '$NF == "total" { print $(NF-2) }' "$work/$name-strace$count_run/strace")")
  done
  local run=$work/$name-strace1
  local host_bytes device_bytes calls pauses
  host_bytes=$(line_bytes "$run/trace" "${letters:0:1}")
  device_bytes=$(line_bytes "$run/trace" "${letters:1:1}")
  calls=$(printf '%s\n' "${counts[@]}" | sort -n | sed -n 2p)
  pauses=$(awk '$NF ~ /nanosleep/ { print $4 }' "$run/strace")
  printf '%-14s %7.2f s   %6s %6s   %7s   %6s\n' "$name" "$timed" \
    "$(per_byte "$host_bytes")" "$(per_byte "$device_bytes")" "$(per_byte "$calls")" "${pauses:-0}"
}

echo "128 KiB qvcopy ($size bytes); bytes on the line and system calls per file byte"
printf '%-14s %9s   %6s %6s   %7s   %6s\n' "transfer" "time" "H->D" "D->H" "calls" "pauses"
transfer cable-send HD -- up.bin UP.BIN
transfer cable-fetch HD -- -g DOWN.BIN down.bin
transfer relay-send hd --relay -- -s2 up.bin UP.BIN
transfer relay-fetch hd --relay -- -s2 -g DOWN.BIN down.bin
transfer cable-send-v HD -- -v up.bin UP.BIN
transfer relay-send-v hd --relay -- -s2 -v up.bin UP.BIN
transfer cable-fetch-v HD -- -v -g DOWN.BIN down.bin
transfer relay-fetch-v hd --relay -- -s2 -v -g DOWN.BIN down.bin
transfer cable-send-C HD --no-echo -- -C up.bin UP.BIN
transfer cable-fetch-C HD --no-echo -- -C -g DOWN.BIN down.bin
transfer relay-send-C hd --relay --no-echo -- -C -s2 up.bin UP.BIN
transfer relay-fetch-C hd --relay --no-echo -- -C -s2 -g DOWN.BIN down.bin
