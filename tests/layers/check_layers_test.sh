#!/bin/sh
# The layer check on copies of the link library, each with one breach put
# in: every breach must fail the check and be named, and the tree as it is
# must pass.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qv-layers.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# expect_breach <what is tested> <text the report must hold> <change to make>
expect_breach() {
  what=$1 expected=$2 change=$3
  rm -rf "$work/tree"
  mkdir -p "$work/tree"
  cp -R "$root/pclink" "$work/tree/pclink"
  (cd "$work/tree/pclink" && eval "$change")
  if report=$("$here/check_layers.sh" "$work/tree" 2>&1); then
    echo "FAIL: $what: the check passed"
    failures=$((failures + 1))
  elif ! printf '%s\n' "$report" | grep -qF "$expected"; then
    echo "FAIL: $what: the report does not say \"$expected\":"
    printf '%s\n' "$report"
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

if "$here/check_layers.sh" "$root" >/dev/null; then
  echo "ok: the tree as it is"
else
  echo "FAIL: the tree as it is breaks the layer order"
  failures=$((failures + 1))
fi

expect_breach "an include of a layer above" "serial_port.cpp: includes pclink/packet.h, a layer above" \
  'echo "#include \"pclink/packet.h\"" >> serial_port.cpp'
expect_breach "a circle inside one layer" "on a circle of includes" \
  'echo "#include \"pclink/relay.h\"" >> relay_framing.cpp'
expect_breach "a file placed in no layer" "stray.cpp: placed in no layer" \
  'echo "int stray;" > stray.cpp'
expect_breach "an operating-system header above the platform" "packet.cpp: includes <unistd.h>" \
  'echo "#include <unistd.h>" >> packet.cpp'
expect_breach "a system file seen from outside its folder" "includes pclink/platform/posix/wait.h, another folder" \
  'echo "#include \"pclink/platform/posix/wait.h\"" >> platform/win32/port.cpp'
expect_breach "an include of a header that is not there" "includes pclink/missing.h, which is not in pclink/" \
  'echo "#include \"pclink/missing.h\"" >> console.cpp'

[ "$failures" -eq 0 ]
