// Runs of the device programs over the emulated optical relay adapter, and
// the relay blocks read back from qvemu's trace, for the end-to-end relay
// tests: the same run over the cable is what a relay run is held against.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "support/e2e.h"
#include "support/file_session.h"

namespace relay_e2e {

using Files = std::vector<std::pair<std::string, std::string>>;

// One way to reach the device, and the options that choose it on each side.
struct Link {
  const char* name;
  std::vector<std::string> emulator;
  std::vector<std::string> program;
};

extern const Link cable;
extern const Link relay_echoing;
extern const Link relay_quiet;

// Runs program over the link against a fresh device whose storage holds
// device_files, from a working folder holding host_files; faults go to the
// emulator after the link's own options.
FileSession run_over(const Link& link, const std::string& program, const std::vector<std::string>& args,
                     const Files& device_files = {}, const Files& host_files = {},
                     const std::vector<std::string>& faults = {}, int timeout_ms = RunOptions{}.timeout_ms);

// The relay blocks of a trace ("h" from the host, "d" from the device).
struct Block {
  char side;
  std::string bytes;
};
std::vector<Block> relay_blocks(const std::string& trace);

// The eight bytes of a control block: sync, mark and the control code.
std::string control_block(char code);
extern const std::string enq_block;
extern const std::string syn_block;
extern const std::string ack_block;
extern const std::string nak_block;

// A file of size bytes in a fixed pattern of every byte value.
std::string file_of(std::size_t size);

// One job of a device program, and the file it leaves on either side.
struct Job {
  const char* program;
  std::vector<std::string> args;
  Files device_files;
  Files host_files;
  const char* stored;   // a file the device must hold afterwards
  const char* fetched;  // a file the host must hold afterwards, equal to file
};

// "qvcopy -g over the relay with echo": what a failing check was about.
std::string job_name(const Job& job, const Link& link);

}  // namespace relay_e2e
