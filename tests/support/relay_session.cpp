// Runs over the emulated relay adapter and its blocks in the trace: see
// support/relay_session.h.
#include "support/relay_session.h"

namespace relay_e2e {

const Link cable{"cable", {}, {}};
const Link relay_echoing{"relay with echo", {"--relay"}, {"-s2"}};
const Link relay_quiet{"relay without echo", {"--relay", "--no-echo"}, {"-C", "-s2"}};

FileSession run_over(const Link& link, const std::string& program, const std::vector<std::string>& args,
                     const Files& device_files, const Files& host_files, const std::vector<std::string>& faults,
                     int timeout_ms) {
  std::vector<std::string> program_args = link.program;
  program_args.insert(program_args.end(), args.begin(), args.end());
  std::vector<std::string> emulator_args = link.emulator;
  emulator_args.insert(emulator_args.end(), faults.begin(), faults.end());
  RunOptions options;
  options.timeout_ms = timeout_ms;
  return run_file_program(program, program_args, emulator_args, device_files, host_files, options);
}

std::vector<Block> relay_blocks(const std::string& trace) {
  std::vector<Block> blocks;
  std::size_t start = 0;
  while (start < trace.size()) {
    std::size_t end = trace.find('\n', start);
    if (end == std::string::npos) end = trace.size();
    std::string line = trace.substr(start, end - start);
    start = end + 1;
    if (line.size() < 2 || (line[0] != 'h' && line[0] != 'd') || line[1] != ' ') continue;
    std::size_t bar = line.find(" | ");
    blocks.push_back({line[0], from_hex(line.substr(2, bar - 2))});
  }
  return blocks;
}

std::string control_block(char code) {
  return std::string(5, '\0') + "\x96\x82" + code;
}
const std::string enq_block = control_block('\x05');
const std::string syn_block = control_block('\x16');
const std::string ack_block = control_block('\x06');
const std::string nak_block = control_block('\x15');

std::string file_of(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 253) & 0xFF);
  return bytes;
}

std::string job_name(const Job& job, const Link& link) {
  return std::string(job.program) + " " + (job.args.empty() ? "" : job.args[0]) + " over the " + link.name;
}

}  // namespace relay_e2e
