#!/bin/sh
# Builds the Windows programs with mingw-w64 (x86-64 and i686) and runs the
# end-to-end cases against qvemu with the x86-64 .exe files under Wine.
#
#   tests/wine/run.sh [work dir]        (default: <repo>/build-wine)
#
# Installs what it needs with apt-get when it is missing. Safe to run again:
# the build directories are reused, the Wine prefix is made afresh and
# removed at the end.
# The i686 programs are only compiled: this host runs no 32-bit code.
set -eu

repo=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$repo/build-wine}
mkdir -p "$work"
work=$(cd "$work" && pwd)

# Every end-to-end case of the programs (jobs done, refusals, NAKs, the
# "TimeOut" ending, a missing port); the emulator's own tests have no program
# to run under Wine. Of the two runs of every program through every relay
# frame fault, the one without echo stands for both: the port layer moves
# the same bytes either way, and each run takes some 25 s under Wine.
# Override with QV_WINE_FILTER (a gtest filter).
filter=${QV_WINE_FILTER:--Emulator*:RelayPrograms/EveryFrameFault.*WithEcho}

install_missing() {
  missing=
  command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
  command -v g++ >/dev/null 2>&1 || missing="$missing g++"
  [ -f /usr/include/gtest/gtest.h ] || missing="$missing libgtest-dev"
  command -v x86_64-w64-mingw32-g++-win32 >/dev/null 2>&1 || missing="$missing g++-mingw-w64-x86-64"
  command -v i686-w64-mingw32-g++-win32 >/dev/null 2>&1 || missing="$missing g++-mingw-w64-i686"
  [ -x /usr/lib/wine/wine64 ] || missing="$missing wine wine64"
  if [ -n "$missing" ]; then
    echo "wine stage: installing$missing"
    sudo_cmd=
    [ "$(id -u)" -eq 0 ] || sudo_cmd=sudo
    $sudo_cmd apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends $missing
  fi
}

# Ninja when it is there, CMake's default generator otherwise.
generator=
if command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi
jobs=$(nproc 2>/dev/null || echo 2)

configure() {
  dir=$1
  shift
  # shellcheck disable=SC2086
  cmake -S "$repo" -B "$dir" $generator -DCMAKE_BUILD_TYPE=Release "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; exit 1; }
}

install_missing

configure "$work/win64" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-x86_64.cmake"
cmake --build "$work/win64" --parallel "$jobs"
configure "$work/win32" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-i686.cmake"
cmake --build "$work/win32" --parallel "$jobs"
# The emulator and the test driver are Linux programs.
# The Linux side, qvemu and the end-to-end tests: the caller's own tree when
# it names one that holds them (test.sh passes its plain build), else ours.
linux_build=${QV_WINE_LINUX_BUILD:-}
if [ -z "$linux_build" ] || [ ! -x "$linux_build/bin/e2e_tests" ] || [ ! -x "$linux_build/bin/qvemu" ]; then
  linux_build="$work/linux"
  configure "$linux_build"
  cmake --build "$linux_build" --parallel "$jobs" --target qvemu e2e_tests
fi

# A Wine prefix of this run alone. The cases run in shards side by side (they
# mostly wait on the line's time-outs), each with a COM port of its own,
# COM2 for the first, mapped to a fixed path that each test points at the
# emulator's pseudo-terminal.
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
export WINELOADER=/usr/lib/wine/wine64
export WINEARCH=win64
shards=${QV_WINE_SHARDS:-$((jobs * 2))}
port_links=
shard=0
while [ "$shard" -lt "$shards" ]; do
  port_links="$port_links $work/vcom$((shard + 2))"
  shard=$((shard + 1))
done

WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || WINESERVER=wineserver
"$WINESERVER" -k 2>/dev/null || true
# shellcheck disable=SC2086
rm -rf "$WINEPREFIX" $port_links
echo "wine stage: preparing $WINEPREFIX"
"$WINELOADER" wineboot -u >"$work/wineboot.log" 2>&1
for link in $port_links; do
  "$WINELOADER" reg add 'HKLM\Software\Wine\Ports' /v "COM${link##*/vcom}" /t REG_SZ /d "$link" /f \
    >>"$work/wineboot.log" 2>&1
done
# The port mapping takes effect when the server starts again. It is started
# here, persistent and detached from every terminal: a server that a program
# under test started would take the emulator's pseudo-terminal as its
# controlling terminal and dump its state into the log when that closes.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
# The first program of a server starts Wine's own services, which keep the
# standard streams they were given for as long as they live: started by a
# test, they would hold its output pipes open and the test would wait for
# their end in vain. Started here, they hold /dev/null.
"$WINELOADER" reg query 'HKLM\Software\Wine\Ports' >/dev/null 2>&1 </dev/null
# The prefix takes some 700 MB and serves this run alone.
# shellcheck disable=SC2086
trap '"$WINESERVER" -k 2>/dev/null || true; "$WINESERVER" -w; rm -rf $port_links "$WINEPREFIX"' EXIT

# Each shard's report follows the one before it, whole; the run fails when
# one shard did.
shard=0
for link in $port_links; do
  QV_E2E_WINE_BIN="$work/win64/bin" QV_E2E_WINE_PORT_LINK="$link" QV_E2E_WINE_PORT="COM${link##*/vcom}" \
    GTEST_TOTAL_SHARDS="$shards" GTEST_SHARD_INDEX="$shard" \
    "$linux_build/bin/e2e_tests" --gtest_filter="$filter" --gtest_brief="${QV_WINE_BRIEF:-1}" \
    >"$work/shard-$shard.log" 2>&1 &
  echo $! >"$work/shard-$shard.pid"
  shard=$((shard + 1))
done
failed=0
shard=0
while [ "$shard" -lt "$shards" ]; do
  wait "$(cat "$work/shard-$shard.pid")" || failed=1
  echo "wine stage: shard $((shard + 1)) of $shards"
  cat "$work/shard-$shard.log"
  rm -f "$work/shard-$shard.pid" "$work/shard-$shard.log"
  shard=$((shard + 1))
done
exit "$failed"
