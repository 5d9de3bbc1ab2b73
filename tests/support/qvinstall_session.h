// Runs of qvinstall against the emulated device, each from a host folder of
// its own, and the texts and bytes its end-to-end tests expect of it.
#pragma once

#include <string>
#include <vector>

#include "support/e2e.h"

namespace qvinstall_e2e {

// The add-in probe: a read request of NIFADR.BOX with room for ten bytes.
extern const std::string probe_packet;

// Standard error without the banner line, which must come first.
std::string after_banner(const std::string& err);

// The empty line and the title line that open a package run.
std::string title_lines(const std::string& title);

// One run of qvinstall from a host folder of its own.
struct Session {
  std::string host_dir = make_temp_dir();
  std::string storage_dir;
  RunResult run;
  std::string trace;

  void put(const std::string& name, const std::string& bytes) const;
  std::string stored(const std::string& name) const;
  // Runs qvinstall with args against a fresh emulator started with
  // emulator_args, stdin_bytes on its standard input.
  void install(std::vector<std::string> emulator_args, std::vector<std::string> args, std::string stdin_bytes = "");
};

}  // namespace qvinstall_e2e
