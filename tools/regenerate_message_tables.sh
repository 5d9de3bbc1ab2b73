#!/bin/sh
# Rewrites the message tables of docs/messages.md and man/*.roff from the
# message catalogue (pclink/messages.h) and the meanings kept in
# docs/message_meanings.txt: run it after changing either, and commit what it
# writes (the test message_tables_current fails until then).
#
#   tools/regenerate_message_tables.sh [<build dir>]      (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" --target message_tables >/dev/null
"$build/tools/message_tables/message_tables" --write "$root"
