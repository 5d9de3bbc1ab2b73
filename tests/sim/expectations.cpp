#include "sim/expectations.h"

#include <fstream>

namespace sim {

namespace {

// Calls take on each line that is neither empty nor a comment; stops with
// the reason in error at the first line take refuses.
template <typename Take>
bool read_lines(const std::string& path, std::string& error, Take take) {
  std::ifstream file(path);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  std::string text;
  for (int number = 1; std::getline(file, text); ++number) {
    if (text.empty() || text[0] == '#') continue;
    if (!take(text)) {
      error = path + ":" + std::to_string(number) + ": not understood: " + text;
      return false;
    }
  }
  return true;
}

}  // namespace

bool Expectations::row_open(const Case& c) const {
  return open_rows.count({static_cast<int>(c.conversation), static_cast<int>(c.line)}) > 0;
}

bool read_expectations(const std::string& path, Expectations& expectations, std::string& error) {
  return read_lines(path, error, [&](const std::string& text) {
    if (text.rfind("case ", 0) == 0) {
      std::optional<Case> c = parse_case(text.substr(5));
      if (c) expectations.must_pass.push_back(*c);
      return c.has_value();
    }
    // A row is a case's first two words; any size makes it one.
    std::optional<Case> row = text.rfind("open ", 0) == 0 ? parse_case(text.substr(5) + " 0") : std::nullopt;
    if (row) expectations.open_rows.insert({static_cast<int>(row->conversation), static_cast<int>(row->line)});
    return row.has_value() && row->faults.empty();
  });
}

bool read_failed_cases(const std::string& path, Expectations& expectations, std::string& error) {
  return read_lines(path, error, [&](const std::string& text) {
    std::optional<Case> c = parse_case(text);
    if (c) expectations.failed_once.push_back(*c);
    return c.has_value();
  });
}

}  // namespace sim
