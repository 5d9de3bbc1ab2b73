#!/bin/sh
# Checks the links of the documentation: every page in docs/ is linked from
# README.md, and every relative link in README.md and docs/*.md names a file
# that exists and, after a '#', a heading of that page (as the anchor a
# Markdown renderer makes of it: lower case, spaces as '-', punctuation
# dropped). Links in code are not links and are skipped, and so are links
# to other sites.
#
#   tests/docs/check_links.sh <source dir>
#
# Prints one line per broken link or unlinked page and exits 1 if there is any.
set -eu
export LC_ALL=C
root=$(cd "$1" && pwd)
faults=0
fault() { echo "$1" >&2; faults=$((faults + 1)); }

# A Markdown file without its fenced code blocks and inline code.
prose_of() { sed -e '/^ *```/,/^ *```/d' "$1" | sed -e 's/`[^`]*`//g'; }

# The targets of the file's links, one a line.
links_of() { prose_of "$1" | grep -o '](\([^)]*\))' | sed 's/^](\(.*\))$/\1/' || true; }

# The anchors of the file's headings, one a line.
anchors_of() {
  sed -e '/^ *```/,/^ *```/d' "$1" | sed -n 's/^#\{1,6\} \{1,\}//p' |
    tr 'A-Z' 'a-z' | sed -e 's/[^a-z0-9 _\x80-\xff-]//g' -e 's/ /-/g'
}

check_link() {  # check_link <file> <link>
  case $2 in
    *://* | mailto:*) return ;;
  esac
  path=${2%%#*}
  anchor=
  case $2 in *'#'*) anchor=${2#*#} ;; esac
  if [ -z "$path" ]; then
    target=$1
  else
    target=$(dirname "$1")/$path
  fi
  name=${1#"$root"/}
  if [ ! -e "$target" ]; then
    fault "$name: link to $2: no such file"
  elif [ -n "$anchor" ] && ! anchors_of "$target" | grep -q -x -F -e "$anchor"; then
    fault "$name: link to $2: no such heading"
  fi
}

pages=$(cd "$root" && ls docs/*.md 2>/dev/null || true)
set -f  # a link is a word, never a pattern
for file in README.md $pages; do
  for link in $(links_of "$root/$file"); do
    check_link "$root/$file" "$link"
  done
done
readme_targets=$(links_of "$root/README.md" | sed 's/#.*//' | sed 's|^\./||')
for page in $pages; do
  printf '%s\n' "$readme_targets" | grep -q -x -F -e "$page" || fault "$page is not linked from README.md"
done
[ "$faults" -eq 0 ] || { echo "documentation links: $faults broken" >&2; exit 1; }
echo "documentation links: README.md and $(echo "$pages" | wc -w) pages, every link resolves"
