#!/bin/bash
# Benchmark (not a test): 20 KB sends and fetches over a noisy line in the
# line simulator (qvsim), in simulated time: the same 19200-baud echoing
# cable and qvemu --noise as bench/paced_line.sh, but hundreds of seeded
# runs in seconds, each the same every time. Prints, per transfer and rate,
# the clean time, the median time and its ratio to the clean time, how the
# runs ended (whole, loud: a non-zero exit, silent: exit 0 and a wrong
# file) and how many took longer than 120 s.
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

# run KIND SIZE [noise:SEED:RATE]: prints "seconds verdict" for one case.
# qvsim exits non-zero for a case that did not end whole or loud.
run() {
  { "$qvsim" --case "$1 $line $2${3:+ $3}" || true; } |
    awk '/^verdict:/ { v = $2; sub(":", "", v) } /^virtual time:/ { t = $3 } END { print t, v }'
}

echo "qvsim: $size-byte transfers on $line, seeds 1..$seeds, simulated time"
printf '%-8s %6s %9s %9s %6s   %s\n' transfer rate clean median ratio "whole loud silent past-${slow}s"
for kind in send fetch; do
  read -r clean verdict < <(run $kind $size)
  [ "$verdict" = whole ] || { echo "a clean $kind did not end whole ($verdict)" >&2; exit 1; }
  for rate in $rates; do
    for seed in $(seq "$seeds"); do run $kind $size "noise:$seed:$rate"; done |
      sort -n |
      awk -v kind=$kind -v rate=$rate -v clean="$clean" -v slow=$slow '
        { t[NR] = $1; n[$2]++; if ($1 > slow) past++ }
        END {
          m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
          printf "%-8s %6s %7.2f s %7.2f s %6.2f   %5d %4d %6d %9d\n", kind, rate, clean, m, m / clean,
                 n["whole"], n["loud"], n["silent"], past
        }'
  done
done
