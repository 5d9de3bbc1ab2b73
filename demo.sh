#!/bin/sh
# Builds the programs and qvemu, the device emulator, and runs the suite
# against it on a pseudo-terminal: every step prints its command, its
# messages (converted from Shift-JIS for this terminal), its exit code and a
# short summary of what went over the line. The whole trace of the line stays
# in build/demo-traces/.
set -eu
cd "$(dirname "$0")"

# say <text>: one line on standard output. When the reader has gone
# (./demo.sh | head) the write fails: the demo ends quietly, cleaning up,
# instead of a shell's "I/O error".
say() {
  printf '%s\n' "$*" 2>/dev/null || exit 141
}

# Ninja for a fresh tree when it is there; a tree configured before (by the
# README's command, say) keeps its own generator and build type.
generator=""
if [ ! -f build/CMakeCache.txt ] && command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi
say "--- building the programs and qvemu in build/"
mkdir -p build
# shellcheck disable=SC2086
cmake -S . -B build $generator >build/demo-configure.log 2>&1 ||
  { cat build/demo-configure.log >&2; exit 1; }
# The build's progress and errors go to standard error: a reader of the
# demo's output that stops early (| head) does not cut the build short.
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" \
  --target qvrestart qvcopy qvdir qvcomlog qvinstall qvunpack qvemu >&2
bin=$PWD/build/bin
traces=$PWD/build/demo-traces
rm -rf "$traces"
mkdir -p "$traces"

work=$(mktemp -d)
emulators=""
cleanup() {
  for emulator in $emulators; do kill "$emulator" 2>/dev/null || true; wait "$emulator" 2>/dev/null || true; done
  emulators=""
  rm -rf "$work"
}
# An exit from a signal's trap runs the EXIT trap: the emulators end and the
# folder goes however the demo ends, also when its reader does (./demo.sh | head).
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
trap 'exit 141' PIPE
mkdir -p "$work/device" "$work/host"

# start_qvemu <name> <options...>: starts an emulator on the shared device
# storage, tracing to <name>-trace.txt, and sets $port to its terminal and
# $trace to its trace.
start_qvemu() {
  name=$1; shift
  trace=$traces/$name-trace.txt
  "$bin/qvemu" --storage "$work/device" --trace "$trace" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  emulators="$emulators $!"
  tries=0
  until [ -s "$work/$name.out" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then echo "qvemu did not start" >&2; cat "$work/$name.err" >&2; exit 1; fi
    sleep 0.05
  done
  port=$(head -n 1 "$work/$name.out")
}

# summarize_trace <first line>: one line for what the trace holds from that
# line on: the Packets each side sent (the first few payloads), the control
# bytes, relay blocks, protocol violations and the emulator's events.
summarize_trace() {
  awk -v from="$1" '
    function payload(line) {
      sub(/^[^|]*\| packet [0-9]+ "/, "", line); sub(/"[^"]*$/, "", line)
      if (length(line) > 16) { line = substr(line, 1, 16); sub(/\\(x[0-9A-F]?)?$/, "", line); line = line "..." }
      return line
    }
    function side(name, packets, words, controls) {
      return sprintf("%s: %d packet%s%s, %d control bytes", name, packets, packets == 1 ? "" : "s",
                     packets ? " (" words (packets > 3 ? ", ..." : "") ")" : "", controls)
    }
    NR < from { next }
    /^[HD] .*\| packet / { k = substr($0, 1, 1); n[k]++; if (n[k] <= 3) w[k] = w[k] (n[k] > 1 ? ", " : "") payload($0); next }
    /^[HD] / { c[substr($0, 1, 1)]++; next }
    /^[hd] / { blocks++; next }
    /^! / { violations++; next }
    /^= / && !/^= session/ { events = events "; " substr($0, 3) }
    END {
      printf "  [line] %s; %s", side("host", n["H"], w["H"], c["H"]), side("device", n["D"], w["D"], c["D"])
      if (blocks) printf "; %d relay blocks", blocks
      if (violations) printf "; %d PROTOCOL VIOLATIONS", violations
      print events
    }' "$trace"
}

# sessions_closed: how many host sessions the emulator has seen end.
sessions_closed() {
  grep -c '^= session closed' "$trace" || true
}
start_qvemu cable
say "qvemu plays the device on $port"

# show <program> <arguments...>: runs a program of the suite from the host
# folder and prints its messages, its standard output (both converted from
# Shift-JIS) and its exit code.
show() {
  program=$1; shift
  say
  say "\$ $program $*"
  status=0
  (cd "$work/host" && "$bin/$program" "$@") >"$work/out" 2>"$work/err" || status=$?
  iconv -f SHIFT_JIS -t UTF-8 <"$work/err" || cat "$work/err"
  if [ -s "$work/out" ]; then
    say "[standard output]"
    iconv -f SHIFT_JIS -t UTF-8 <"$work/out" || cat "$work/out"
  fi
  say "(exit code $status)"
}

# step <program> <arguments...>: the same against the emulated device, and
# the summary of the step's trace once the emulator has seen the session end
# (waited for at most 2 s).
step() {
  program=$1; shift
  first=$(($(wc -l <"$trace") + 1))
  closed=$(sessions_closed)
  show "$program" -d "$port" "$@"
  tries=0
  while [ "$(sessions_closed)" -le "$closed" ] && [ "$tries" -lt 40 ]; do
    tries=$((tries + 1))
    sleep 0.05
  done
  summarize_trace "$first"
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
if cmp -s "$work/host/memo.txt" "$work/host/back.txt"; then say "back.txt is memo.txt, byte for byte"; fi
step qvcomlog -c3 memo.txt
step qvcomlog -g -c3 log3.txt
say "log3.txt holds the log record header and memo.txt:"
od -c "$work/host/log3.txt" | head -5
step qvcopy -g NOTTHERE.TXT

# Through the optical relay adapter (link mode 2): a second emulator plays
# the adapter and the device on a line of its own, and every unit travels
# in a relay frame with its ENQ, SYN and ACK blocks.
start_qvemu relay --relay
say
say "qvemu --relay plays the adapter and the device on $port"
step qvcopy -s2 memo.txt RELAY.TXT

# qvunpack works offline, on a backup archive of the device: list it, then
# write its members into the host folder.
cp samples/backup/backup.bak "$work/host/"
show qvunpack -l backup.bak
show qvunpack backup.bak
say "MEMO.TXT as written:"
iconv -f SHIFT_JIS -t UTF-8 <"$work/host/MEMO.TXT"
say
say "--- the device's storage S1: now holds:"
ls -l "$work/device"

say
say "--- the whole line, as the emulators saw it (H host, D device; h, d relay blocks):"
ls "$traces"/*-trace.txt
