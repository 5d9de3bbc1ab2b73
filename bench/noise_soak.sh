#!/bin/bash
# Benchmark (not a test): thousands of transfers of every kind (send, fetch,
# list, log send and fetch, install, reset) over a noisy line, by cable with
# and without echo and through the optical relay, at several noise rates,
# against qvemu --noise; prints how each kind ended at each rate: whole,
# loud (a message and a non-zero exit), silent (exit 0, wrong result),
# collision (silent, and the trace shows the 16-bit sum collided), hang
# (killed after the hang time), crash.
#
# usage: bench/noise_soak.sh [BUILD_DIR] [options of tests/soak/noise_soak.sh]
#   default: 40 transfers per rate, kind and line at 1e-4 3e-4 1e-3 3e-3,
#   that is 2,520 transfers; each later option overrides its default.
# Another build's programs against this build's qvemu (one without -v):
#   bench/noise_soak.sh build --host-bin ../before/build/bin --no-verify
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then build=$1; shift; fi
exec tests/soak/noise_soak.sh --transfers 40 --rates "1e-4 3e-4 1e-3 3e-3" --jobs 10 "$@" "$build/bin"
