#!/bin/sh
# Builds the suite twice with warnings as errors, the plain tree with g++ and
# an AddressSanitizer and UndefinedBehaviorSanitizer tree with clang++ (g++
# when there is no clang++), and runs every test in both; then the stages that
# exist: the Windows programs under Wine, the install tree, manual pages and
# packages (tests/package/run.sh), and the fuzzers. Ends with one tally:
# "summary: N passed, 0 failed, K skipped" (any failure stops the run).
# Its trees are its own, build-test/ and build-test-sanitize/ (and the Wine
# stage's build-wine/): a build/ of the user's stays as the user configured
# it, so that a later "cmake --install build" installs what the user built.
# Installs with apt-get what it lacks of libgtest-dev, clang, groff-base,
# man-db, mandoc and dpkg-dev (and its Wine stage mingw-w64 and Wine).
set -eu
cd "$(dirname "$0")"
started=$(date +%s)
jobs=$(nproc 2>/dev/null || echo 2)
# Most end-to-end tests spend their time waiting on the line's time-outs in
# real time, not computing: twice as many run at once as there are cores.
test_jobs=$((jobs * 2))

# What this script's own stages use; the Wine stage installs mingw-w64 and
# Wine itself, the fuzzers clang.
need=""
[ -f /usr/include/gtest/gtest.h ] || need="$need libgtest-dev"
command -v clang++ >/dev/null 2>&1 || need="$need clang"
command -v groff >/dev/null 2>&1 || need="$need groff-base"
command -v man >/dev/null 2>&1 || need="$need man-db"
command -v mandoc >/dev/null 2>&1 || need="$need mandoc"
command -v dpkg-shlibdeps >/dev/null 2>&1 || need="$need dpkg-dev"
echo "test.sh: about 15 minutes on a 2-core machine (two builds and their tests, Wine, packages, fuzzers)"
echo "test.sh: installs with apt-get:${need:- nothing here};" \
  "the Wine stage installs mingw-w64 and Wine when missing; dpkg -i installs and removes qvlink"
if [ -n "$need" ]; then
  sudo_cmd=
  [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
  $sudo_cmd apt-get update -q
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends $need
fi

passed=0
skipped=0
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Adds the counts that a stage's log reports (one report, or one per shard)
# to a tally.
add_count() {  # add_count <variable> <log> <sed expression printing the count>
  n=$(sed -n "$3" "$2" | awk '{ n += $1 } END { print n + 0 }')
  eval "$1=\$((\$$1 + n))"
}

run_build() {  # run_build <dir> <C++ compiler> <cmake options...>
  dir=$1; compiler=$2; shift 2
  echo "== $dir ($compiler)"
  # CXX and the generator choose for a fresh tree only: a tree of an earlier
  # run keeps its own, and its cache.
  generator=""
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi
  # shellcheck disable=SC2086
  CXX=$compiler cmake -S . -B "$dir" $generator -DQV_WARNINGS_AS_ERRORS=ON -DQV_BUILD_TESTS=ON "$@" >"$logs/configure.log" ||
    { cat "$logs/configure.log"; exit 1; }
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$test_jobs" --output-log "$logs/ctest.log" >/dev/null ||
    { cat "$logs/ctest.log"; exit 1; }
  tail -n 3 "$logs/ctest.log"
  # ctest counts a skipped test among the passed ones and names it once more.
  add_count passed "$logs/ctest.log" 's/.* tests passed, 0 tests failed out of \([0-9][0-9]*\).*/\1/p'
  n=$(grep -c '(Skipped)$' "$logs/ctest.log" || true)
  passed=$((passed - n))
  skipped=$((skipped + n))
}

plain_build=build-test
run_build $plain_build g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
if command -v clang++ >/dev/null 2>&1; then
  run_build build-test-sanitize clang++ -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON
else
  run_build build-test-sanitize g++ -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON
fi

windows_build=""
if [ -x tests/wine/run.sh ]; then
  echo "== tests/wine/run.sh"
  QV_WINE_LINUX_BUILD="$PWD/$plain_build" tests/wine/run.sh >"$logs/wine.log" 2>&1 || { cat "$logs/wine.log"; exit 1; }
  cat "$logs/wine.log"
  add_count passed "$logs/wine.log" 's/^\[  PASSED  \] \([0-9][0-9]*\) tests\{0,1\}\..*/\1/p'
  # "[  SKIPPED ] 30 tests, listed below:", or "30 tests." under --gtest_brief.
  add_count skipped "$logs/wine.log" 's/^\[  SKIPPED \] \([0-9][0-9]*\) tests\{0,1\}[,.].*/\1/p'
  windows_build=build-wine/win64
fi

echo "== tests/package/run.sh"
tests/package/run.sh $plain_build $windows_build >"$logs/package.log" 2>&1 || { cat "$logs/package.log"; exit 1; }
cat "$logs/package.log"
add_count passed "$logs/package.log" 's/^package checks: \([0-9][0-9]*\) passed.*/\1/p'
add_count skipped "$logs/package.log" 's/^package checks: .* \([0-9][0-9]*\) skipped$/\1/p'

if [ -x tests/fuzz/run.sh ]; then
  echo "== tests/fuzz/run.sh"
  tests/fuzz/run.sh
  passed=$((passed + 1))  # the fuzzer ran its time out without a finding
fi

elapsed=$(($(date +%s) - started))
echo "test.sh: took $((elapsed / 60)) min $((elapsed % 60)) s"
echo "summary: $passed passed, 0 failed, $skipped skipped"
