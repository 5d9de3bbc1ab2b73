# How the noise soak judges what a transfer left: whether it arrived whole,
# and whether a wrong result is explained by what the line did to it (a
# collision of the 16-bit sum, named in the trace). Sourced by noise_soak.sh;
# uses its $work.

same() { cmp -s "$1" "$2"; }

hex_of() { od -An -v -tx1 "$1" 2>/dev/null | tr -d ' \n'; }

# Whether the collisions a trace names explain a wrong result: each collided
# Packet's data, put as received in place of the same data as sent in the
# right result, must turn it into exactly the result the host produced.
collision_explains() {  # collision_explains <trace> <right result> <result>
  [ -f "$3" ] || return 1
  local right sent received
  right=$(hex_of "$2")
  while IFS='|' read -r sent received; do
    [ -n "$sent" ] && right=${right/"$sent"/"$received"}
  done < <(sed -n 's/^= noise collision: .*; data sent \([0-9A-F ]*\); received \([0-9A-F ]*\)$/\1|\2/p' "$1" |
             tr -d ' ' | tr 'A-F' 'a-f')
  [ "$right" = "$(hex_of "$3")" ]
}

# Whether a file stored wrong on the device is explained by bits the line
# flipped on the way there: the same size, every differing byte one such
# flip (from the byte sent to the byte stored), and at least two of them, as
# a Packet's 16-bit sum passes only changes that cancel.
flips_explain() {  # flips_explain <trace> <sent file> <stored file>
  [ -f "$3" ] && [ "$(wc -c < "$2")" -eq "$(wc -c < "$3")" ] || return 1
  local flips position sent stored count=0
  flips=$(sed -n 's/^= noise to device at byte [0-9]*: bit [0-7] flipped, 0x\([0-9A-F][0-9A-F]\) -> 0x\([0-9A-F][0-9A-F]\)$/\1\2/p' "$1")
  while read -r position sent stored; do
    grep -qx "$(printf '%02X%02X' "$((8#$sent))" "$((8#$stored))")" <<< "$flips" || return 1
    count=$((count + 1))
  done < <(cmp -l "$2" "$3" 2>/dev/null)
  [ "$count" -ge 2 ]
}

# A collision explains a wrong result without -v only: data the host
# receives is named in the trace when it collides (a fetch, a list, a log
# fetch), data the host sends shows as the flips behind it (a send, a log
# send, an install); a reset carries no data.
explained_by_collision() {  # explained_by_collision <kind> <dir>
  local kind=$1 dir=$2 fixture=$work/fixture
  case $kind in
    fetch) collision_explains "$dir/trace" "$fixture/storage/DOWN.BIN" "$dir/h/down.bin" ;;
    logfetch) collision_explains "$dir/trace" "$fixture/storage/COM5.LOG" "$dir/h/log5.txt" ;;
    list) collision_explains "$dir/trace" "$fixture/list.txt" "$dir/out" ;;
    send) flips_explain "$dir/trace" "$dir/h/up.bin" "$dir/s/UP.BIN" ;;
    logsend) flips_explain "$dir/trace" "$fixture/COM3.LOG" "$dir/s/COM3.LOG" ;;
    install)
      { same "$dir/h/a.bas" "$dir/s/A.BAS" || flips_explain "$dir/trace" "$dir/h/a.bas" "$dir/s/A.BAS"; } &&
        { same "$dir/h/b.bas" "$dir/s/B.BAS" || flips_explain "$dir/trace" "$dir/h/b.bas" "$dir/s/B.BAS"; } ;;
    *) return 1 ;;
  esac
}

# Whether what the transfer of this kind should leave is there.
arrived_whole() {
  local kind=$1 dir=$2 fixture=$work/fixture
  case $kind in
    send) same "$dir/h/up.bin" "$dir/s/UP.BIN" ;;
    fetch) same "$fixture/storage/DOWN.BIN" "$dir/h/down.bin" ;;
    list) same "$fixture/list.txt" "$dir/out" ;;
    logsend) same "$fixture/COM3.LOG" "$dir/s/COM3.LOG" ;;
    logfetch) same "$fixture/storage/COM5.LOG" "$dir/h/log5.txt" ;;
    install) same "$dir/h/a.bas" "$dir/s/A.BAS" && same "$dir/h/b.bas" "$dir/s/B.BAS" ;;
    reset) grep -q '^= reset$' "$dir/trace" ;;
  esac
}
