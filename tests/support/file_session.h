// One run of a file program against a fresh emulated device whose storage
// the test fills first, and the Packets the test expects on the line.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/e2e.h"
#include "support/e2e_host.h"
#include "support/e2e_wine.h"

struct FileSession {
  RunResult run;
  std::string trace;
  std::string storage;  // the device's storage folder, kept after the run
  std::string host;     // the program's working folder, kept after the run
};

// Starts qvemu with a storage folder holding device_files (name, contents),
// runs program from a fresh working folder holding host_files under options
// (its working folder is set here), stops qvemu.
inline FileSession run_file_program(const std::string& program, std::vector<std::string> args,
                                    std::vector<std::string> emulator_args = {},
                                    const std::vector<std::pair<std::string, std::string>>& device_files = {},
                                    const std::vector<std::pair<std::string, std::string>>& host_files = {},
                                    RunOptions options = {}) {
  FileSession session;
  session.storage = make_temp_dir();
  session.host = make_temp_dir();
  for (const auto& [name, contents] : device_files) write_file(session.storage + "/" + name, contents);
  for (const auto& [name, contents] : host_files) write_file(session.host + "/" + name, contents);
  emulator_args.insert(emulator_args.end(), {"--storage", session.storage});
  Emulator emulator = start_emulator(std::move(emulator_args));
  options.working_dir = session.host;
  session.run = run_device_program(emulator, program, std::move(args), options);
  session.trace = stop_emulator(emulator);
  return session;
}

// The emulated device saw no breach of the protocol by the host.
inline void expect_clean_line(const FileSession& session) {
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

// A name as a request carries it, with its NUL.
inline std::string with_nul(const std::string& text) {
  return text + std::string(1, '\0');
}

// What the programs print on standard error after their banner line.
inline std::string after_banner(const std::string& err) {
  std::size_t end = err.find('\n');
  return end == std::string::npos ? "" : err.substr(end + 1);
}

// A file of every byte value, line ends, 0x1A and NULs included.
inline std::string binary_file(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 37 + i / 256) & 0xFF);
  return bytes;
}

// The host's side of the opening exchange for a service word, and the
// device's.
inline std::string host_opening(const std::string& word) {
  return packet(1, word) + "\x04\x05\x06\x06";
}
inline std::string device_opening() {
  return "\x06\x06" + packet(1, "DOK") + "\x04\x05";
}

// The room a fetch test works against. Natively the default room of 131072
// bytes; under Wine, where every byte takes a trip through the Windows
// layer, a room of 4096 bytes given with -m, so the same rule is shown on a
// few thousand bytes within the run's time limit.
struct FetchRoom {
  std::vector<std::string> option;  // the -m that gives it
  std::size_t bytes;
  std::size_t larger_file;  // a file that does not fit
};

inline FetchRoom fetch_room() {
  if (wine_mode()) return {{"-m4096"}, 4096, 5000};
  return {{"-m131072"}, 131072, 200000};
}

// The three capacity bytes a read request announces for room bytes: one
// more than the room, so a file that fills the room is known to be cut.
inline std::string announced_capacity(std::size_t room) {
  std::size_t announced = room + 1;
  return std::string{static_cast<char>(announced & 0xFF), static_cast<char>((announced >> 8) & 0xFF),
                     static_cast<char>((announced >> 16) & 0xFF)};
}
