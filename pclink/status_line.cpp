#include "pclink/status_line.h"

#include <algorithm>
#include <initializer_list>

#include "pclink/terminal_text.h"

namespace {

constexpr char gap[] = "  ";

// The pieces joined two spaces apart, each after the name when there is one.
std::string joined(bool after_name, std::initializer_list<const std::string*> pieces) {
  std::string line;
  for (const std::string* piece : pieces) {
    if (piece->empty()) continue;
    if (after_name || !line.empty()) line += gap;
    line += *piece;
  }
  return line;
}

// As many of the notice's words as fit in room, with "..." when some went.
std::string cut_after_a_word(const std::string& notice, std::size_t room) {
  if (notice.size() <= room) return notice;
  constexpr char cut_mark[] = "...";
  const std::size_t mark_width = sizeof cut_mark - 1;
  for (std::size_t space = notice.rfind(' '); space != std::string::npos && space > 0;
       space = notice.rfind(' ', space - 1)) {
    if (space + mark_width <= room) return notice.substr(0, space) + cut_mark;
  }
  return {};
}

}  // namespace

StatusLineLayout lay_out_status_line(const std::string& name, bool shift_jis_name, const StatusLineParts& parts,
                                     std::size_t room) {
  const bool has_name = !name.empty();
  const std::size_t share = std::min(name.size(), status_name_share);
  const std::size_t details_room = room > share ? room - share : 0;
  const std::string done_and_total = parts.done + parts.total;
  // From the richest line to the barest, the first that fits.
  const std::string candidates[] = {
      joined(has_name, {&done_and_total, &parts.pace, &parts.retries, &parts.notice}),
      joined(has_name, {&done_and_total, &parts.retries, &parts.notice}),
      joined(has_name, {&done_and_total, &parts.notice}),
      joined(has_name, {&done_and_total, &parts.retries, &parts.short_notice}),
      joined(has_name, {&done_and_total, &parts.short_notice}),
      joined(has_name, {&parts.done, &parts.short_notice}),
      joined(has_name, {&parts.short_notice}),
  };
  StatusLineLayout layout;
  const std::string* fitting = std::find_if(std::begin(candidates), std::end(candidates),
                                            [&](const std::string& line) { return line.size() <= details_room; });
  if (fitting != std::end(candidates)) {
    layout.details = *fitting;
  } else {
    const std::size_t gap_width = has_name ? sizeof gap - 1 : 0;
    std::string cut = details_room > gap_width ? cut_after_a_word(parts.short_notice, details_room - gap_width) : "";
    if (!cut.empty()) layout.details = (has_name ? gap : "") + cut;
  }
  const std::size_t name_room = room > layout.details.size() ? room - layout.details.size() : 0;
  layout.name = name_fitted_to(name, shift_jis_name, name_room);
  return layout;
}
