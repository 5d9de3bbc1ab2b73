#!/bin/sh
# Builds the suite and runs it against qvemu, the device emulator, on a
# pseudo-terminal: every step prints its command, its messages (converted
# from Shift-JIS for this terminal) and its exit code, and at the end the
# bytes that went over the line.
set -eu
cd "$(dirname "$0")"
generator=""
if command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi
# shellcheck disable=SC2086
cmake -S . -B build $generator -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build >/dev/null
bin=$PWD/build/bin

work=$(mktemp -d)
emulators=""
cleanup() {
  for emulator in $emulators; do kill "$emulator" 2>/dev/null || true; wait "$emulator" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/device" "$work/host"

# start_qvemu <name> <options...>: starts an emulator on the shared device
# storage, tracing to <name>-trace.txt, and sets $port to its terminal.
start_qvemu() {
  name=$1; shift
  "$bin/qvemu" --storage "$work/device" --trace "$work/$name-trace.txt" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  emulators="$emulators $!"
  tries=0
  until [ -s "$work/$name.out" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then echo "qvemu did not start" >&2; cat "$work/$name.err" >&2; exit 1; fi
    sleep 0.05
  done
  port=$(head -n 1 "$work/$name.out")
}

start_qvemu cable
echo "qvemu plays the device on $port"

# show <program> <arguments...>: runs a program of the suite from the host
# folder and prints its messages, its standard output (both converted from
# Shift-JIS) and its exit code.
show() {
  program=$1; shift
  echo
  echo "\$ $program $*"
  status=0
  (cd "$work/host" && "$bin/$program" "$@") >"$work/out" 2>"$work/err" || status=$?
  iconv -f SHIFT_JIS -t UTF-8 <"$work/err" || cat "$work/err"
  if [ -s "$work/out" ]; then
    echo "[standard output]"
    iconv -f SHIFT_JIS -t UTF-8 <"$work/out" || cat "$work/out"
  fi
  echo "(exit code $status)"
}

# step <program> <arguments...>: the same against the emulated device.
step() {
  program=$1; shift
  show "$program" -d "$port" "$@"
}

step qvrestart -r

# The sample add-in package: the list, its description and its files, sent
# from the host folder; then one file in program mode, without the reset.
cp samples/hello/* "$work/host/"
step qvinstall -t hello.zrs
step qvinstall -q -R hello.bas
# A file to the device and back, the device's list, a log slot both ways.
printf 'Shopping:\r\n  milk\r\n  bread\r\n' >"$work/host/memo.txt"
step qvcopy memo.txt MEMO.TXT
step qvdir
step qvcopy -g MEMO.TXT back.txt
if cmp -s "$work/host/memo.txt" "$work/host/back.txt"; then echo "back.txt is memo.txt, byte for byte"; fi
step qvcomlog -c3 memo.txt
step qvcomlog -g -c3 log3.txt
echo "log3.txt holds the log record header and memo.txt:"
od -c "$work/host/log3.txt" | head -5
step qvcopy -g NOTTHERE.TXT

# Through the optical relay adapter (link mode 2): a second emulator plays
# the adapter and the device on a line of its own, and every unit travels
# in a relay frame with its ENQ, SYN and ACK blocks.
cable_port=$port
start_qvemu relay --relay
echo
echo "qvemu --relay plays the adapter and the device on $port"
step qvcopy -s2 memo.txt RELAY.TXT
port=$cable_port

# qvunpack works offline, on a backup archive of the device: list it, then
# write its members into the host folder.
cp samples/backup/backup.bak "$work/host/"
show qvunpack -l backup.bak
show qvunpack backup.bak
echo "MEMO.TXT as written:"
iconv -f SHIFT_JIS -t UTF-8 <"$work/host/MEMO.TXT"
echo
echo "--- the device's storage S1: now holds:"
ls -l "$work/device"

echo
echo "--- the line, as the emulator saw it (H host, D device):"
cat "$work/cable-trace.txt"
echo
echo "--- the relay line: the frames of the first unit (h, d: relay blocks; H, D: the units they carry):"
head -n 6 "$work/relay-trace.txt"
