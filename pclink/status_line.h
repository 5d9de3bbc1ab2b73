// The layout of the status line: a name, then the figures of a transfer
// and the notice that the program is waiting, fitted to the terminal's
// width by what a person needs most.
//
// The name keeps a share of the line that can still be read (its whole
// length up to status_name_share columns), since it tells which file the
// figures are for. What does not fit goes in this order: the rate and the
// time left, the count of retries, the long wording of the notice (a short
// one takes its place, and the retries come back if they fit beside it),
// the retries again, the total and percentage, the bytes done. A notice
// that does not fit even then is cut after a word, never inside one. Last
// of all the name is shortened below its share.
#pragma once

#include <cstddef>
#include <string>

constexpr std::size_t status_name_share = 16;

// The pieces after the name, in their order on the line; each empty when
// there is nothing to show. All ASCII.
struct StatusLineParts {
  std::string done;          // "48.0 KiB"
  std::string total;         // " / 128.0 KiB  37%", right after done
  std::string pace;          // "1.9 KiB/s  0:42 left"
  std::string retries;       // "3 retries"
  std::string notice;        // "waiting for the device... (...)"
  std::string short_notice;  // the notice in fewer columns
};

struct StatusLineLayout {
  std::string name;     // the name, shortened from its front when it had to be
  std::string details;  // everything after it, pieces two spaces apart
};

// Lays out a name (made safe for the terminal; shift_jis_name tells its
// character set, which decides where a cut may fall) and the parts in room
// columns. A byte is taken for a column.
StatusLineLayout lay_out_status_line(const std::string& name, bool shift_jis_name, const StatusLineParts& parts,
                                     std::size_t room);
