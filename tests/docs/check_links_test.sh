#!/bin/sh
# The link check against small documentation trees with one fault each: it
# must name the broken link or the unlinked page and fail, and pass a tree
# whose links are all good, whatever code blocks and other sites it holds.
#
#   tests/docs/check_links_test.sh <check_links.sh>
set -eu
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A tree of README.md and docs/guide.md that links each way and to a heading.
good_tree() {  # good_tree <dir>
  mkdir -p "$1/docs"
  cat >"$1/README.md" <<'PAGE'
# Tool

See [the guide](docs/guide.md), its [options](docs/guide.md#the-options-of-a-run) and
[exit codes](#exit-codes), or [the site](https://example.invalid/missing.md).

## Exit codes

```sh
echo "[not a link](docs/missing.md)"
```
An inline `[code](docs/missing.md)` is no link either.
PAGE
  cat >"$1/docs/guide.md" <<'PAGE'
# Guide

Back to the [README](../README.md#exit-codes).

## The options: of a run
PAGE
}

# expect <name> <0 or 1> <text the output must hold, or ""> <tree>
expect() {
  status=0
  sh "$check" "$4" >"$work/out" 2>&1 || status=$?
  if [ "$status" -ne "$2" ]; then
    echo "FAILED: $1: exit $status, expected $2" >&2
    cat "$work/out" >&2
    failures=$((failures + 1))
  elif [ -n "$3" ] && ! grep -q -F -e "$3" "$work/out"; then
    echo "FAILED: $1: the output does not say \"$3\"" >&2
    cat "$work/out" >&2
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}

good_tree "$work/good"
expect "a tree whose links resolve passes" 0 "every link resolves" "$work/good"

good_tree "$work/missing-file"
sed -i 's|docs/guide.md)|docs/gide.md)|' "$work/missing-file/README.md"
expect "a link to a missing file fails" 1 "README.md: link to docs/gide.md: no such file" "$work/missing-file"

good_tree "$work/missing-heading"
sed -i 's|^## The options: of a run|## Options|' "$work/missing-heading/docs/guide.md"
expect "a link to a heading that is gone fails" 1 \
  "README.md: link to docs/guide.md#the-options-of-a-run: no such heading" "$work/missing-heading"

good_tree "$work/own-heading"
sed -i 's|^## Exit codes|## Exit status|' "$work/own-heading/README.md"
expect "a link to a heading of its own page that is gone fails" 1 \
  "docs/guide.md: link to ../README.md#exit-codes: no such heading" "$work/own-heading"

good_tree "$work/unlinked"
echo "# More" >"$work/unlinked/docs/more.md"
expect "a page that README.md does not link fails" 1 "docs/more.md is not linked from README.md" "$work/unlinked"

good_tree "$work/linked-from-page-only"
echo "# More" >"$work/linked-from-page-only/docs/more.md"
echo "[more](more.md)" >>"$work/linked-from-page-only/docs/guide.md"
expect "a page linked only from another page fails" 1 "docs/more.md is not linked from README.md" \
  "$work/linked-from-page-only"

[ "$failures" -eq 0 ] || exit 1
