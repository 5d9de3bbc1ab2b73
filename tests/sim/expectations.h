// What a sweep expects (qvsim --expect FILE), one line each:
//   case <case>                  must end whole or loud, whatever its row
//   open <conversation> <line>   a row whose silent or hung cases are known
//                                and not yet mended: reported, not failed
// and the cases that ever failed (--cases FILE, one case a line), which run
// before the sweep: each must end whole or loud unless its row is open.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/conversations.h"

namespace sim {

struct Expectations {
  std::vector<Case> must_pass;
  std::vector<Case> failed_once;
  std::set<std::pair<int, int>> open_rows;

  bool row_open(const Case& c) const;
};

// Each reads its file into expectations; false with the reason in error
// (the file and line) when the file cannot be read or a line is not one.
bool read_expectations(const std::string& path, Expectations& expectations, std::string& error);
bool read_failed_cases(const std::string& path, Expectations& expectations, std::string& error);

}  // namespace sim
