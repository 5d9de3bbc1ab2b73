#!/bin/sh
# Decoding speed of qvunpack against base64 -d, on inputs of the same size.
# Builds a release qvunpack, writes a 64 MiB archive (BENCH_MIB to change),
# and times, best of five runs each: qvunpack extracting every member,
# qvunpack decoding only (-t), and base64 -d decoding as much base64 text
# into one file. Prints MB/s of input. With valgrind installed it also counts
# the instructions qvunpack -t spends per input byte of a 4 MiB archive: on a
# machine shared with other work the times vary from run to run, the count
# does not, so it is what tells a slower decoder from a busier machine.
#
#   bench/qvunpack_bench.sh [QVUNPACK]
#
# QVUNPACK: another build's qvunpack to measure in place of this tree's.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
mib=${BENCH_MIB:-64}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ $# -gt 0 ]; then
  qvunpack=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target qvunpack >/dev/null
  qvunpack=$build/bin/qvunpack
fi
c++ -std=c++20 -O2 -I"$root/tests" "$root/bench/make_bench_archive.cpp" -o "$work/make_bench_archive"

"$work/make_bench_archive" "$work/archive" "$mib"
size=$(wc -c < "$work/archive")
# base64 text of the same size: 76-character lines of 57 bytes each.
head -c $((size / 77 * 57)) /dev/urandom | base64 -w 76 > "$work/base64"

now() { date +%s.%N; }

best_of_five() {  # best_of_five <command...>: the shortest of five wall times
  best=""
  for _ in 1 2 3 4 5; do
    start=$(now)
    "$@"
    end=$(now)
    best=$(echo "$start $end $best" | awk '{t = $2 - $1; if ($3 == "" || t < $3) print t; else print $3}')
  done
  echo "$best"
}

unpack() { (cd "$work/out" && "$qvunpack" -t "$work/archive" >/dev/null); }
extract() { (cd "$work/out" && "$qvunpack" "$work/archive" >/dev/null); }
decode_base64() { base64 -d "$work/base64" > "$work/out/base64.bin"; }

mkdir "$work/out"
list_time=$(best_of_five unpack)
extract_time=$(best_of_five extract)
base64_time=$(best_of_five decode_base64)
base64_size=$(wc -c < "$work/base64")

report() {  # report <label> <bytes> <seconds>
  echo "$1 $2 $3" | awk '{printf "%-28s %10d bytes %8.3f s %8.1f MB/s\n", $1, $2, $3, $2 / $3 / 1e6}'
}
report "qvunpack(extract)" "$size" "$extract_time"
report "qvunpack(-t,decode-only)" "$size" "$list_time"
report "base64-d" "$base64_size" "$base64_time"

if command -v valgrind >/dev/null 2>&1; then
  "$work/make_bench_archive" "$work/small" 4
  small=$(wc -c < "$work/small")
  instructions=$(cd "$work/out" && valgrind --tool=callgrind --callgrind-out-file=/dev/null \
    "$qvunpack" -t "$work/small" 2>&1 >/dev/null | sed -n 's/.*Collected : *//p')
  echo "$small $instructions" | awk '{printf "%-28s %10d bytes %8.2f instructions/byte\n", "qvunpack(-t,callgrind)", $1, $2 / $1}'
fi
