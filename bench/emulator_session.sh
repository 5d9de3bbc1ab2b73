# Helpers of the link benchmarks (sourced, not run): a qvemu per transfer,
# optionally behind the paced line, and the bytes its trace shows.
#
# The caller sets $bin (qvemu's folder) and $work (a scratch folder), and
# calls stop_line from its EXIT trap.

emulator_pid=
paced_pid=

# start_emulator RUN [QVEMU_OPTIONS...]: a fresh qvemu for one transfer, its
# storage in RUN/storage and its trace in RUN/trace; sets $port.
start_emulator() {
  local run=$1; shift
  mkdir -p "$run/storage" "$run/host"
  rm -f "$run/port"
  mkfifo "$run/port"
  "$bin/qvemu" --storage "$run/storage" --trace "$run/trace" "$@" > "$run/port" 2> "$run/qvemu.err" &
  emulator_pid=$!
  port=
  read -r -t 10 port < "$run/port" || true
  [ -n "$port" ] || { echo "qvemu did not start" >&2; cat "$run/qvemu.err" >&2; exit 1; }
}

# start_paced RUN BAUD BITS LATENCY_MS: the paced line between the host and
# the emulator started last; $port becomes the host's end of it.
start_paced() {
  local run=$1 baud=$2 bits=$3 latency=$4
  rm -f "$run/paced-port"
  mkfifo "$run/paced-port"
  "$work/paced_line" "$baud" "$bits" "$latency" "$port" > "$run/paced-port" 2> "$run/paced.err" &
  paced_pid=$!
  port=
  read -r -t 10 port < "$run/paced-port" || true
  [ -n "$port" ] || { echo "the paced line did not start" >&2; cat "$run/paced.err" >&2; exit 1; }
}

# Builds the paced line helper into $work.
build_paced_line() {
  local source
  source=$(dirname "${BASH_SOURCE[0]}")/paced_line.cpp
  c++ -std=c++20 -O2 "$source" -o "$work/paced_line"
}

stop_line() {
  if [ -n "$paced_pid" ]; then kill "$paced_pid" 2>/dev/null || true; wait "$paced_pid" 2>/dev/null || true; fi
  if [ -n "$emulator_pid" ]; then kill "$emulator_pid" 2>/dev/null || true; wait "$emulator_pid" 2>/dev/null || true; fi
  paced_pid=
  emulator_pid=
  return 0
}

# line_bytes TRACE LETTERS: the bytes of the trace lines that begin with one
# of the letters (H host units, D device units, h and d relay blocks).
line_bytes() {
  local trace=$1 sides=$2
  awk -v sides="$sides" 'index(sides, substr($0, 1, 1)) && substr($0, 2, 1) == " " {
      split($0, halves, " [|] "); n += split(halves[1], fields, " ") - 1 } END { print n + 0 }' "$trace"
}

# seconds_since START: wall seconds since a `date +%s.%N` reading.
seconds_since() {
  awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'
}
