#!/bin/bash
# Noise soak: transfers of every kind against qvemu on a noisy line
# (qvemu --noise SEED:RATE), each one classified:
#   whole      exit 0 and the file (list, log, reset) is what it should be
#   loud       a non-zero exit: the program said the job was not done
#   silent     exit 0 but the file or list is wrong (or the reset not done)
#   collision  silent, but explained by the line: the trace names Packets
#              whose data reached the host altered behind a sound number,
#              tag and sum (the 16-bit sum collided), and putting that data,
#              as received, in place of the data sent turns the right result
#              into exactly the wrong one; for a send, the device names none,
#              but every byte stored wrong is a bit the line flipped on its
#              way to the device (from the byte sent to the byte stored), and
#              there are two or more: one flip alone always changes a sum
#   hang       no end within the hang time, then killed
#   crash      ended by a signal of its own, or a sanitizer reported
# Half the sends (qvcopy, qvcomlog, qvinstall) run with -v, which reads the
# written file back, and half without; their kinds show as send-v and send.
# Only a transfer without -v may be excused by a collision: a read-back
# proves what was stored. Prints one table line per rate, kind and line.
# With --assert it exits 1 when any transfer hung or crashed, or ended silent
# unexplained by a collision, and tells how to run each such transfer again.
#
# usage: noise_soak.sh [options] BIN_DIR
#   --transfers N     transfers per rate, kind and line (default 2)
#   --rates "R ..."   noise rates per byte (default "1e-4 1e-3")
#   --kinds "K ..."   of: send fetch list logsend logfetch install reset
#   --lines "L ..."   of: echo noecho relay
#   --jobs N          transfers at once (default 8: they mostly wait)
#   --hang S          seconds before a transfer counts as hung (default 60)
#   --seed S          seed of the first transfer; each next one adds 1 (default 1)
#   --host-bin DIR    the programs under test from another build (default BIN_DIR)
#   --verify M        half (default): every other send with -v; all: every
#                     send and fetch with -v (so no collision is excused but
#                     in a list, which has no -v); none: no -v at all
#   --no-verify       --verify none (for programs that have no verify)
#   --keep DIR        keep the folders of the transfers that did not end whole
#   --assert          exit 1 on a failed assertion
#   --one I KIND LINE RATE SEED    (internal) run one transfer
#   --flips-explain TRACE SENT STORED  (internal) exit 0 when the bits the
#                     line flipped towards the device explain STORED
#   --explains TRACE RIGHT RESULT  (internal) exit 0 when the collisions of
#                     TRACE turn the file RIGHT into the file RESULT
set -uo pipefail

all_kinds="send fetch list logsend logfetch install reset"
all_lines="echo noecho relay"

# One transfer in its own folder $work/$index, against its own qvemu; writes
# "rate kind line outcome index seed" to $work/results/$index.
run_one() {
  local index=$1 kind=$2 line=$3 rate=$4 seed=$5
  local dir=$work/$index
  mkdir -p "$dir/s" "$dir/h"
  cp "$work/fixture/storage/"* "$dir/s/"
  cp "$work/fixture/host/"* "$dir/h/"
  local emulator_args=(--storage "$dir/s" --trace "$dir/trace" --once --noise "$seed:$rate")
  local line_args=()
  case $line in
    noecho) emulator_args+=(--no-echo); line_args=(-C) ;;
    relay) emulator_args+=(--relay); line_args=(-s2) ;;
  esac
  # With -v every other send, every send and fetch, or none.
  local verify=()
  case $use_verify:$kind in
    all:*|half:send|half:logsend|half:install) [ "$use_verify" = all ] || [ $((index % 2)) -eq 0 ] && verify=(-v) ;;
  esac
  local program args
  case $kind in
    send) program=qvcopy args=("${verify[@]}" up.bin UP.BIN) ;;
    fetch) program=qvcopy args=(-g "${verify[@]}" DOWN.BIN down.bin) ;;
    list) program=qvdir args=() ;;
    logsend) program=qvcomlog args=("${verify[@]}" -c3 memo.txt) ;;
    logfetch) program=qvcomlog args=(-g "${verify[@]}" -c5 log5.txt) ;;
    install) program=qvinstall args=("${verify[@]}" -D pkg.zrs) ;;
    reset) program=qvrestart args=(-r) ;;
  esac

  mkfifo "$dir/port"
  "$bin/qvemu" "${emulator_args[@]}" > "$dir/port" 2> "$dir/qvemu.err" &
  local emulator=$!
  local port=
  read -r -t 10 port < "$dir/port"
  if [ -z "$port" ]; then
    echo "qvemu did not start for transfer $index" >&2
    kill "$emulator" 2>/dev/null
    echo "$rate $kind $line crash $index $seed" > "$work/results/$index"
    return
  fi
  (cd "$dir/h" && exec timeout -s KILL "$hang" "$host_bin/$program" -d "$port" "${line_args[@]}" "${args[@]}" \
      > "$dir/out" 2> "$dir/err")
  local code=$?
  kill "$emulator" 2>/dev/null
  wait "$emulator" 2>/dev/null

  local outcome
  if [ $code -eq 137 ]; then
    outcome=hang
  elif [ $code -gt 128 ] || [ $code -eq 126 ] || [ $code -eq 127 ] || grep -aq 'Sanitizer\|runtime error:' "$dir/err"; then
    outcome=crash  # killed by a signal of its own, not started at all, or a sanitizer's finding
  elif [ $code -ne 0 ]; then
    outcome=loud
  elif arrived_whole "$kind" "$dir"; then
    outcome=whole
  elif [ ${#verify[@]} -eq 0 ] && explained_by_collision "$kind" "$dir"; then
    outcome=collision
  else
    outcome=silent
  fi
  [ ${#verify[@]} -gt 0 ] && kind=$kind-v
  echo "$rate $kind $line $outcome $index $seed" > "$work/results/$index"
  [ "$outcome" != whole ] && [ -n "$keep" ] && mkdir -p "$keep" && cp -r "$dir" "$keep/$index-$kind-$line-$rate"
  rm -rf "$dir"
}

# What a transfer left, and what explains it (outcomes.sh).
source "$(dirname "${BASH_SOURCE[0]}")/outcomes.sh"

# The files every transfer starts from, and what a clean line makes of the
# list and the log send, for the comparisons.
make_fixture() {
  local fixture=$work/fixture
  mkdir -p "$fixture/storage" "$fixture/host" "$fixture/clean/s" "$fixture/clean/h"
  head -c 1500 /dev/urandom > "$fixture/storage/DOWN.BIN"
  head -c 700 /dev/urandom > "$fixture/storage/COM5.LOG"
  head -c 1500 /dev/urandom > "$fixture/host/up.bin"
  head -c 600 /dev/urandom > "$fixture/host/memo.txt"
  head -c 400 /dev/urandom > "$fixture/host/a.bas"
  head -c 300 /dev/urandom > "$fixture/host/b.bas"
  printf 'ZRS,P,soak\r\ndesc.txt\r\na.bas\r\nb.bas\r\n' > "$fixture/host/pkg.zrs"
  cp "$fixture/storage/"* "$fixture/clean/s/"
  cp "$fixture/host/"* "$fixture/clean/h/"
  local port
  for run in "qvdir" "qvcomlog -c3 memo.txt"; do
    rm -f "$fixture/port"
    mkfifo "$fixture/port"
    "$bin/qvemu" --storage "$fixture/clean/s" --once > "$fixture/port" 2>/dev/null &
    local emulator=$!
    read -r -t 10 port < "$fixture/port"
    # shellcheck disable=SC2086
    (cd "$fixture/clean/h" && timeout 30 "$host_bin/"$run -d "$port" > "$fixture/clean/out" 2>/dev/null) ||
      { echo "a transfer on a clean line failed: $run" >&2; exit 2; }
    kill "$emulator" 2>/dev/null
    wait "$emulator" 2>/dev/null
    [ "$run" = qvdir ] && cp "$fixture/clean/out" "$fixture/list.txt"
  done
  cp "$fixture/clean/s/COM3.LOG" "$fixture/COM3.LOG"
}

# Counts of each outcome, one line per distinct value of the fields named
# (rate, kind, line), then one line for everything.
tally() {  # tally <awk expression of the key> <heading of the key>
  printf '%-24s %5s %6s %5s %6s %9s %5s %5s\n' "$2" runs whole loud silent collision hang crash
  sort -k1,1g -k2,2 -k3,3 "$work"/results/* | awk -v key_expression="$1" '
    { split(key_expression, fields, " "); key = ""
      for (i = 1; i in fields; i++) key = key (i > 1 ? " " : "") $(fields[i])
      if (!(key in runs)) order[++keys] = key; runs[key]++; count[key, $4]++; total[$4]++; all++ }
    END {
      for (i = 1; i <= keys; i++) {
        key = order[i]
        printf "%-24s %5d %6d %5d %6d %9d %5d %5d\n", key, runs[key], count[key, "whole"], count[key, "loud"],
          count[key, "silent"], count[key, "collision"], count[key, "hang"], count[key, "crash"]
      }
      printf "%-24s %5d %6d %5d %6d %9d %5d %5d\n", "all", all, total["whole"], total["loud"], total["silent"],
        total["collision"], total["hang"], total["crash"]
    }'
}

print_table() {
  tally "1 2 3" "rate kind line"
  echo
  tally "1 2" "rate kind"
  echo
  tally "1 3" "rate line"
}

# The transfers that break an assertion, each with how to run it again.
report_failures() {
  local failed=0
  while read -r rate kind line outcome index seed; do
    case $outcome in
      silent|hang|crash)
        failed=1
        echo "FAILED: $kind over $line at $rate ends $outcome (transfer $index): run it again with" \
          "qvemu --noise $seed:$rate$( [ "$line" = noecho ] && echo ' --no-echo')$( [ "$line" = relay ] && echo ' --relay')"
        ;;
    esac
  done < <(sort -n -k5 "$work"/results/*)
  return $failed
}

if [ "${1:-}" = --one ]; then
  run_one "${@:2}"
  exit 0
fi
if [ "${1:-}" = --flips-explain ]; then
  flips_explain "${@:2}"
  exit
fi
if [ "${1:-}" = --explains ]; then
  collision_explains "${@:2}"
  exit
fi
transfers=2 rates="1e-4 1e-3" kinds=$all_kinds lines=$all_lines jobs=8 hang=60 seed=1
host_bin= use_verify=half keep= assert=no
while [ $# -gt 1 ]; do
  case $1 in
    --transfers) transfers=$2; shift 2 ;;
    --rates) rates=$2; shift 2 ;;
    --kinds) kinds=$2; shift 2 ;;
    --lines) lines=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --hang) hang=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --host-bin) host_bin=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    --no-verify) use_verify=none; shift ;;
    --verify) use_verify=$2; shift 2 ;;
    --assert) assert=yes; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -eq 1 ] || { sed -n '2,/^set /p' "$0" | sed '$d' >&2; exit 2; }
case $use_verify in half|all|none) ;; *) echo "--verify takes half, all or none" >&2; exit 2 ;; esac
bin=$(cd "$1" && pwd)
host_bin=$(cd "${host_bin:-$bin}" && pwd)
for program in qvemu; do [ -x "$bin/$program" ] || { echo "no $bin/$program" >&2; exit 2; }; done
for program in qvcopy qvdir qvcomlog qvinstall qvrestart; do
  [ -x "$host_bin/$program" ] || { echo "no $host_bin/$program" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/results"
export work bin host_bin hang use_verify keep
make_fixture

index=0
for rate in $rates; do
  for kind in $kinds; do
    for line in $lines; do
      for _ in $(seq "$transfers"); do
        echo "$index $kind $line $rate $((seed + index))"
        index=$((index + 1))
      done
    done
  done
done | xargs -P "$jobs" -L 1 "$0" --one

print_table
if [ "$assert" = yes ]; then
  report_failures || exit 1
fi
exit 0
