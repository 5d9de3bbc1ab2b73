#!/bin/bash
# Benchmark (not a test): what one 128 KiB qvcopy send and fetch costs over
# the cable (link mode 1) and through the optical relay (link mode 2),
# against qvemu on a pseudo-terminal.
#
# For each transfer, a send with -v (which reads the file back) included, it
# prints the wall time, the bytes that crossed the line per file byte (host to
# device, device to host; an echoing line carries the host's bytes back once
# more), the host's system calls per file byte and its pauses, counted with
# `strace -c -f`.
#
# usage: bench/link_cost.sh [BUILD_DIR]      (default: build; needs strace)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
bin=$build/bin
for program in qvemu qvcopy; do
  [ -x "$bin/$program" ] || { echo "no $bin/$program: build the project first" >&2; exit 2; }
done
command -v strace >/dev/null || { echo "strace is needed" >&2; exit 2; }

size=131072
work=$(mktemp -d)
emulator_pid=
cleanup() {
  [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null && wait "$emulator_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

head -c $size /dev/urandom > "$work/file.bin"

# Starts a fresh qvemu (a fresh line for every transfer) and sets $port.
start_emulator() {
  local run=$1; shift
  mkdir -p "$run/storage" "$run/host"
  "$bin/qvemu" --storage "$run/storage" --trace "$run/trace" "$@" > "$run/port" 2> "$run/qvemu.err" &
  emulator_pid=$!
  for _ in $(seq 100); do
    [ -s "$run/port" ] && break
    sleep 0.05
  done
  port=$(head -n 1 "$run/port")
  [ -n "$port" ] || { echo "qvemu did not start" >&2; cat "$run/qvemu.err" >&2; exit 1; }
}

stop_emulator() {
  kill "$emulator_pid"
  wait "$emulator_pid" || true
  emulator_pid=
}

# Bytes of the trace lines that begin with one of the given letters.
line_bytes() {
  local trace=$1 sides=$2
  awk -v sides="$sides" 'index(sides, substr($0, 1, 1)) && substr($0, 2, 1) == " " {
      split($0, halves, " [|] "); n += split(halves[1], fields, " ") - 1 } END { print n + 0 }' "$trace"
}

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
  local start end
  start=$(date +%s.%N)
  (cd "$run/host" && "${tracer[@]}" "$bin/qvcopy" -d "$port" "$@" > /dev/null 2> "$run/err")
  end=$(date +%s.%N)
  stop_emulator
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
  if ! cmp -s "$work/file.bin" "$run/storage/UP.BIN" && ! cmp -s "$work/file.bin" "$run/host/down.bin"; then
    echo "$run: the file did not arrive whole" >&2
    exit 1
  fi
}

# transfer NAME LINK_LETTERS EMULATOR_OPTIONS... -- QVCOPY_ARGUMENTS...
# Timed without strace; counted in a second run under strace.
transfer() {
  local name=$1 letters=$2; shift 2
  run_qvcopy "$work/$name" "$@"
  local timed=$seconds
  run_qvcopy "$work/$name-strace" strace "$@"
  local run=$work/$name-strace
  local host_bytes device_bytes calls pauses
  host_bytes=$(line_bytes "$run/trace" "${letters:0:1}")
  device_bytes=$(line_bytes "$run/trace" "${letters:1:1}")
  calls=$(awk '$NF == "total" { print $(NF-2) }' "$run/strace")
  pauses=$(awk '$NF ~ /nanosleep/ { print $4 }' "$run/strace")
  printf '%-12s %7.2f s   %6s %6s   %7s   %6s\n' "$name" "$timed" \
    "$(per_byte "$host_bytes")" "$(per_byte "$device_bytes")" "$(per_byte "$calls")" "${pauses:-0}"
}

echo "128 KiB qvcopy ($size bytes), echo on; bytes on the line and system calls per file byte"
printf '%-12s %9s   %6s %6s   %7s   %6s\n' "transfer" "time" "H->D" "D->H" "calls" "pauses"
transfer cable-send HD -- up.bin UP.BIN
transfer cable-fetch HD -- -g DOWN.BIN down.bin
transfer relay-send hd --relay -- -s2 up.bin UP.BIN
transfer relay-fetch hd --relay -- -s2 -g DOWN.BIN down.bin
transfer cable-send-v HD -- -v up.bin UP.BIN
transfer relay-send-v hd --relay -- -s2 -v up.bin UP.BIN
