#!/bin/bash
# Benchmark (not a test): 20 KB sends and fetches over a noisy line in the
# line simulator (qvsim), in simulated time: the same 19200-baud echoing
# cable and qvemu --noise as bench/paced_line.sh, but hundreds of seeded
# runs in seconds, each the same every time. Prints, per transfer and rate,
# the clean time, the median time and its ratio to the clean time, the
# median time the line was busy (its busier direction carrying bytes, echo
# and repeats included: no pacing of either side ends a run sooner), the
# median time the noise held bytes back (its pauses of 0.1 to 2 s, either
# way) with the ratio of the two together (their median per run) to the
# clean time: what no host could save on that line while moving the bytes it
# moves, so that the rest of the time is what its waits add; how the
# runs ended (whole, loud: a non-zero exit, silent: exit 0 and a wrong
# file), how many took longer than 120 s, and how many read the file once
# more than asked (`reread`: a send read back, a fetch read a second time,
# because the line left a doubt).
#
# usage: bench/noisy_sim.sh [BUILD_DIR] [--seeds N] [--rates "R ..."] [--line LINE]
#   (defaults: build, 150 seeds, "0.001 0.003", cable-echo)
set -euo pipefail

build=build
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then build=$1; shift; fi
seeds=150
rates="0.001 0.003"
line=cable-echo
while [ $# -gt 0 ]; do
  case $1 in
    --seeds) seeds=$2; shift 2 ;;
    --rates) rates=$2; shift 2 ;;
    --line) line=$2; shift 2 ;;
    *) echo "noisy_sim.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
qvsim=$build/bin/qvsim
[ -x "$qvsim" ] || { echo "build qvsim first (Linux only)" >&2; exit 2; }
size=20480
slow=120

# The line's byte time in seconds: 10 bits at 19200 baud (the relay's 11 at 9600).
byte_time=$(awk -v line=$line 'BEGIN { printf "%.9f", line ~ /^relay/ ? 11 / 9600 : 10 / 19200 }')

# run KIND SIZE [noise:SEED:RATE]: prints "seconds verdict busy-seconds
# reread paused-seconds" for one case (reread 1: the host's messages say it read the file
# once more). qvsim exits non-zero for a case that did not end whole or loud.
run() {
  { "$qvsim" --case "$1 $line $2${3:+ $3}" || true; } |
    awk -v byte_time="$byte_time" '
      /^verdict:/ { v = $2; sub(":", "", v) }
      /^virtual time:/ {
        t = $3; line = $0; gsub(/[,;]/, "", line); split(line, f, " ")
        busy = (f[9] > f[13] ? f[9] : f[13]) * byte_time   # "... to the device N to the host M"
      }
      /^--- host.s standard error/ { messages = 1; next }
      /^--- / { messages = 0 }
      messages && /read back|reading it again/ { reread = 1 }
      /^= noise .*: pause of [0-9]+ ms/ { for (i = 1; i < NF; i++) if ($i == "of") paused += $(i + 1) / 1000 }
      END { print t, v, busy, reread + 0, paused + 0 }'
}

echo "qvsim: $size-byte transfers on $line, seeds 1..$seeds, simulated time"
printf '%-8s %6s %9s %9s %6s %9s %6s %9s %6s   %s\n' transfer rate clean median ratio busy ratio paused ratio "whole loud silent past-${slow}s reread"
for kind in send fetch; do
  read -r clean verdict _ < <(run $kind $size)
  [ "$verdict" = whole ] || { echo "a clean $kind did not end whole ($verdict)" >&2; exit 1; }
  for rate in $rates; do
    for seed in $(seq "$seeds"); do run $kind $size "noise:$seed:$rate"; done |
      awk -v kind=$kind -v rate=$rate -v clean="$clean" -v slow=$slow '
        function median(v, count,   i, j, x) {
          for (i = 2; i <= count; i++) { x = v[i]; for (j = i - 1; j > 0 && v[j] > x; j--) v[j + 1] = v[j]; v[j + 1] = x }
          return (count % 2) ? v[(count + 1) / 2] : (v[count / 2] + v[count / 2 + 1]) / 2
        }
        { t[NR] = $1; b[NR] = $3; p[NR] = $5; bp[NR] = $3 + $5; n[$2]++; if ($1 > slow) past++; reread += $4 }
        END {
          m = median(t, NR); mb = median(b, NR); mp = median(p, NR); mbp = median(bp, NR)
          printf "%-8s %6s %7.2f s %7.2f s %6.2f %7.2f s %6.2f %7.2f s %6.2f   %5d %4d %6d %9d %6d\n", kind, rate, clean, m, m / clean,
                 mb, mb / clean, mp, mbp / clean, n["whole"], n["loud"], n["silent"], past, reread
        }'
  done
done
