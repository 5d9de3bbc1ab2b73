// Internal to the simulator: each conversation's fixtures on both sides,
// the host's routine for it (what the program's main function calls, in
// the same order), and what a run that exits 0 must leave behind.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/conversations.h"

namespace sim {

struct Expected {
  std::vector<std::pair<std::string, Bytes>> device_files;
  std::vector<std::pair<std::string, Bytes>> host_files;
  bool list_printed = false;
  std::string list;
  bool reset = false;
};

using Routine = std::function<void()>;

// Lays out the files of the case on both sides and returns the host's
// routine, which ends with exit_program.
Routine prepare(const Case& c, Expected& expected);

bool is_relay(LineKind line);
std::optional<Bytes> read_file(const std::string& path);

}  // namespace sim
