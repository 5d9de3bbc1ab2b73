#!/bin/bash
# The soak's collision rule on crafted traces: a silent result is excused
# only when the collisions the trace names turn the right result into
# exactly the wrong one, never for any collision line somewhere in the trace.
set -uo pipefail
soak="$(dirname "$0")/noise_soak.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect <0|1> <what> <trace text> <right bytes> <result bytes>
expect() {
  printf '%b' "$3" > "$work/trace"
  printf '%b' "$4" > "$work/right"
  printf '%b' "$5" > "$work/result"
  "$soak" --explains "$work/trace" "$work/right" "$work/result"
  local got=$?
  if [ "$got" -ne "$1" ]; then
    echo "FAILED: $2: --explains gave $got, expected $1" >&2
    failures=$((failures + 1))
  fi
}

collision='= noise collision: Packet 2 reaches the host altered, every check sound; data sent 41 61 62 42; received 41 60 63 42\n'
other='= noise collision: Packet 5 reaches the host altered, every check sound; data sent 58 58 59; received 58 59 58\n'
units='H 05 | ENQ\nD 01 02 FD 07 00 41 46 56 41 60 63 42 43 01 | packet 2 "AFVA`cB"\n'

expect 0 "the collided data is the whole difference" "$units$collision" 'xxAabBxx' 'xxA`cBxx'
expect 0 "two collisions, both in the result" "$collision$other" 'AabBzzXXY' 'A`cBzzXYX'
expect 1 "a collision of other data" "$units$other" 'xxAabBxx' 'xxA`cBxx'
expect 1 "no collision at all" "$units" 'xxAabBxx' 'xxA`cBxx'
expect 1 "a difference beyond the collision" "$collision" 'xxAabBxx' 'xxA`cBx'
expect 1 "the collided data and a byte more changed" "$collision" 'xxAabBxx' 'yxA`cBxx'
expect 1 "a byte lost while the collided Packet was refused" "$collision" 'xxAabBxx' 'xxAabBx'
"$soak" --explains "$work/trace" "$work/right" "$work/missing" && {
  echo "FAILED: a missing result was explained" >&2
  failures=$((failures + 1))
}
[ "$failures" -eq 0 ] && echo "collision rule: all cases hold"
exit $((failures > 0))
