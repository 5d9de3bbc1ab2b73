#!/bin/sh
# Holds the link library to its layer order: a file includes only headers of
# its own layer or one below, includes make no circle even inside a layer,
# only the platform sees the operating system's headers, and a system's own
# folder is seen by nobody else. Every file of pclink/ must be placed in a
# layer below, so that a new file is placed when it is added.
#
#   tests/layers/check_layers.sh [source tree]     (default: this checkout)
#
# Prints each breach as "file: what" and exits 1 when there is one.
set -eu

root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$root/pclink"

# The layers from the bottom up, by file name without its extension; a line
# without a layer's name goes on with the one above. A file under platform/
# is in the platform layer.
layers='
base:                checksum16 messages message_catalogue_link message_catalogue_programs message_language
                     status_line terminal_text version version_text
platform:
console_and_files:   console console_messages command_line device_names file_saves save_comparisons host_path
                     local_files
                     program_help progress
serial_port:         line_doubts line_watch line_timing serial_port_bytes echo_damage echo_match echo serial_port port_opening
run_endings:         run_endings
link_stream:         link_stream
relay:               relay_framing relay
packet:              packet
answers:             answers
conversation:        conversation
file_commands:       data_train file_commands
host_file_transfers: host_file_transfers host_file_fetches
program_options:     link_options
'

files=$(find . -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.h.in' \) | sed 's|^\./||' | sort)

# "path rank": every file with the rank of its layer, or "?" when unplaced.
ranks=$(printf '%s\n' "$files" | awk -v layers="$layers" '
  BEGIN {
    n = split(layers, lines, "\n"); rank = 0
    for (i = 1; i <= n; i++) {
      count = split(lines[i], words, " ")
      first = 1
      if (lines[i] ~ /:/) {  # a new layer; a line without ":" goes on with the last
        rank++
        if (words[1] == "platform:") platform_rank = rank
        first = 2
      }
      for (w = first; w <= count; w++) rank_of[words[w]] = rank
    }
  }
  {
    stem = $0; sub(/\.(h|cpp|h\.in)$/, "", stem)
    if ($0 ~ /^platform\//) print $0, platform_rank
    else if (stem in rank_of) print $0, rank_of[stem]
    else print $0, "?"
  }')

# "includer included": the pclink headers each file includes. (One awk
# over every file: a process per file made the check take seconds.)
# shellcheck disable=SC2086
includes=$(awk '/^[[:space:]]*#[[:space:]]*include[[:space:]]*"pclink\/[^"]*"/ {
    header = $0
    sub(/^[[:space:]]*#[[:space:]]*include[[:space:]]*"pclink\//, "", header)
    sub(/".*/, "", header)
    print FILENAME, header
  }' $files </dev/null)

breaches=$( {
  printf '%s\n' "$ranks" | awk '$2 == "?" { print $1 ": placed in no layer (tests/layers/check_layers.sh)" }'

  printf '%s\n' "$includes" | awk -v ranks="$ranks" '
    BEGIN { n = split(ranks, lines, "\n"); for (i = 1; i <= n; i++) { split(lines[i], f, " "); rank[f[1]] = f[2] } }
    NF == 2 {
      if (!($2 in rank) && ($2 ".in") in rank) rank[$2] = rank[$2 ".in"]  # made by the build
      if (!($2 in rank)) { print $1 ": includes pclink/" $2 ", which is not in pclink/"; next }
      if (rank[$1] != "?" && rank[$2] != "?" && rank[$2] + 0 > rank[$1] + 0)
        print $1 ": includes pclink/" $2 ", a layer above its own"
      # A system folder is its own business: platform/posix/wait.h is for
      # platform/posix/ alone.
      if ($2 ~ /^platform\/[^\/]+\//) {
        folder = $2; sub(/[^\/]+$/, "", folder)
        if (index($1, folder) != 1) print $1 ": includes pclink/" $2 ", another folder'"'"'s system file"
      }
    }'

  # Above the platform no operating-system header: C++ standard headers
  # have no ".h".
  # shellcheck disable=SC2086
  awk 'FILENAME !~ /^platform\// && /^[[:space:]]*#[[:space:]]*include[[:space:]]*<[^>]*\.h>/ {
      header = $0
      sub(/^[[:space:]]*#[[:space:]]*include[[:space:]]*</, "", header)
      sub(/>.*/, "", header)
      printf "%s: includes <%s>, which only the platform may see\n", FILENAME, header
    }' $files </dev/null

  # Circles: a file and its header are one node; tsort names a loop's nodes.
  printf '%s\n' "$includes" | awk 'NF == 2 {
      a = $1; b = $2; sub(/\.(h|cpp|h\.in)$/, "", a); sub(/\.(h|cpp|h\.in)$/, "", b)
      if (a != b) print b, a
    }' | tsort 2>&1 >/dev/null | sed -n 's|^tsort: \([^-:][^:]*\)$|\1: on a circle of includes|p'
} )

if [ -n "$breaches" ]; then
  printf '%s\n' "$breaches" | sort -u
  exit 1
fi
echo "pclink: $(printf '%s\n' "$files" | wc -l | tr -d ' ') files in their layers, no circles"
