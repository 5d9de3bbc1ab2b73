// qvinstall's end-to-end runs: see support/qvinstall_session.h.
#include "support/qvinstall_session.h"

#include <gtest/gtest.h>

#include <utility>

namespace qvinstall_e2e {

const std::string probe_packet =
    from_hex("01 01 FE 14 00 52 46 56 0A 00 00 53 31 3A 4E 49 46 41 44 52 2E 42 4F 58 00 81 04");

std::string after_banner(const std::string& err) {
  EXPECT_EQ(err.rfind(sjis(program_title("qvinstall", "ZAURUS AddInソフト転送")), 0), 0u) << err;
  std::size_t end = err.find('\n');
  return end == std::string::npos ? "" : err.substr(end + 1);
}

std::string title_lines(const std::string& title) {
  return std::string("\n") + sjis("タイトル " + title) + "\n";
}

void Session::put(const std::string& name, const std::string& bytes) const {
  write_file(host_dir + "/" + name, bytes);
}

std::string Session::stored(const std::string& name) const {
  return read_file(storage_dir + "/" + name);
}

void Session::install(std::vector<std::string> emulator_args, std::vector<std::string> args, std::string stdin_bytes) {
  Emulator emulator = start_emulator(std::move(emulator_args));
  storage_dir = emulator.storage_dir;
  RunOptions options;
  options.working_dir = host_dir;
  options.stdin_bytes = std::move(stdin_bytes);
  run = run_device_program(emulator, "qvinstall", std::move(args), options);
  trace = stop_emulator(emulator);
}

}  // namespace qvinstall_e2e
