#!/bin/bash
# The soak's collision rule on crafted traces: a silent result is excused
# only when the collisions the trace names turn the right result into
# exactly the wrong one, never for any collision line somewhere in the trace;
# a send stored wrong, only when bits flipped towards the device, two or
# more, make the whole difference.
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
# expect_flips <0|1> <what> <trace text> <sent bytes> <stored bytes>
expect_flips() {
  printf '%b' "$3" > "$work/trace"
  printf '%b' "$4" > "$work/sent"
  printf '%b' "$5" > "$work/stored"
  "$soak" --flips-explain "$work/trace" "$work/sent" "$work/stored"
  local got=$?
  if [ "$got" -ne "$1" ]; then
    echo "FAILED: $2: --flips-explain gave $got, expected $1" >&2
    failures=$((failures + 1))
  fi
}

flips='= noise to device at byte 300: bit 3 flipped, 0xAC -> 0xA4\n= noise to device at byte 311: bit 3 flipped, 0x37 -> 0x3F\n'
expect_flips 0 "two flips that cancel in the sum are the whole difference" "$flips" 'x\xac....\x37x' 'x\xa4....\x3fx'
expect_flips 1 "one flip alone: the sum would have changed" "$flips" 'x\xac....x' 'x\xa4....x'
expect_flips 1 "a byte stored wrong with no flip behind it" "$flips" 'x\xac..\x41\x37x' 'x\xa4..\x42\x3fx'
expect_flips 1 "a chunk stored twice, not a flip" "$flips" 'x\xac....\x37x' 'x\xac....\x37xx'
expect_flips 1 "flips towards the host explain no send" \
  '= noise to host at byte 300: bit 3 flipped, 0xAC -> 0xA4\n= noise to host at byte 311: bit 3 flipped, 0x37 -> 0x3F\n' \
  'x\xac....\x37x' 'x\xa4....\x3fx'
[ "$failures" -eq 0 ] && echo "collision rule: all cases hold"
exit $((failures > 0))
