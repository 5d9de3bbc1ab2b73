// The cases' fixtures, the host's side of each conversation (the routines
// the programs' main functions call, in the same order) and the judge.
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <unistd.h>
#include <utility>

#include "pclink/console.h"
#include "pclink/file_commands.h"
#include "pclink/local_files.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "qvcomlog/log_command.h"
#include "qvdir/device_list.h"
#include "qvemu/emulator.h"
#include "qvinstall/install_modes.h"
#include "qvinstall/settings.h"
#include "sim/conversation_runs.h"
#include "sim/conversations.h"
#include "sim/host_platform.h"
#include "sim/host_process.h"

namespace sim {

namespace {

constexpr int send_log_slot = 3;

// What must be found after a run that exits 0.
struct Expected {
  std::vector<std::pair<std::string, Bytes>> device_files;
  std::vector<std::pair<std::string, Bytes>> host_files;
  bool list_printed = false;
  std::string list;
  bool reset = false;
};

// File bytes that hold every control byte of the protocol and of the relay
// framing, so that damage can turn data into any of them and back.
Bytes file_content(int size, unsigned salt) {
  Bytes bytes(static_cast<std::size_t>(size));
  std::uint32_t state = 2463534242u ^ (salt * 2654435761u);
  for (std::uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 8);
  }
  return bytes;
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

std::optional<Bytes> read_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  Bytes bytes;
  std::uint8_t block[4096];
  for (std::size_t count; (count = std::fread(block, 1, sizeof block, file)) > 0;) bytes.insert(bytes.end(), block, block + count);
  std::fclose(file);
  return bytes;
}

void empty_folder(const std::string& folder) {
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return;
  while (dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      unlink((folder + "/" + entry->d_name).c_str());
    }
  }
  closedir(listing);
}

void put_device_file(const std::string& name, const Bytes& bytes) {
  write_file(device_folder() + "/" + name, bytes);
}

// Device files whose list text is exactly size bytes long (at least 5:
// "N 0" and CR LF), each line at most 200 bytes.
void lay_out_list(int size) {
  for (int line = 0, left = size; left > 0; ++line) {
    const int length = left > 200 ? 200 : left < 5 ? 5 : left;
    std::string name(static_cast<std::size_t>(length - 4), 'A' + line % 26);
    name[0] = static_cast<char>('A' + line);
    put_device_file(name, {});
    left -= length;
  }
}

using Routine = std::function<void()>;

int link_mode_of(LineKind line) {
  return line == LineKind::relay_echo || line == LineKind::relay ? link_mode_relay : link_mode_cable_19200;
}

// The host's routine for the case, and what a run that exits 0 must leave.
Routine prepare(const Case& c, Expected& expected) {
  empty_folder(device_folder());
  const int mode = link_mode_of(c.line);
  const Bytes content = file_content(c.size, static_cast<unsigned>(c.size));
  switch (c.conversation) {
    case Conversation::send:
    case Conversation::send_verified: {
      write_file("up.bin", content);
      expected.device_files.push_back({"UP.BIN", content});
      const bool verify = c.conversation == Conversation::send_verified;
      return [mode, verify] {
        open_port(mode);
        const int outcome = send_host_file("up.bin", "UP.BIN", "", 0, verify);
        close_port();
        exit_program(outcome);
      };
    }
    case Conversation::fetch:
    case Conversation::fetch_verified:
      // A verified fetch runs as the plain one until the host can verify one.
      unlink("down.bin");
      put_device_file("DOWN.BIN", content);
      expected.host_files.push_back({"down.bin", content});
      return [mode] {
        open_port(mode);
        const int outcome = fetch_to_host_file("DOWN.BIN", "down.bin", fetch_limit);
        close_port();
        exit_program(outcome);
      };
    case Conversation::list:
      lay_out_list(c.size);
      expected.list_printed = true;
      expected.list = qvemu::Storage(device_folder()).list_text();
      return [mode] {
        open_port(mode);
        const int outcome = list_device("S1:");
        close_port();
        exit_program(outcome);
      };
    case Conversation::log_send: {
      write_file("memo.txt", content);
      char header[log_header_length + 1];
      log_header(send_log_slot, header);
      Bytes stored = qvemu::bytes_of(std::string(header, log_header_length));
      stored.insert(stored.end(), content.begin(), content.end());
      expected.device_files.push_back({"COM3.LOG", stored});
      return [mode] {
        open_port(mode);
        char slot_header[log_header_length + 1];
        log_header(send_log_slot, slot_header);
        const int outcome = send_host_file("memo.txt", "COM3.LOG", slot_header, log_header_length);
        close_port();
        exit_program(outcome);
      };
    }
    case Conversation::log_fetch:
      unlink("log5.txt");
      put_device_file("COM5.LOG", content);
      expected.host_files.push_back({"log5.txt", content});
      return [mode] {
        open_port(mode);
        const int outcome = fetch_to_host_file("COM5.LOG", "log5.txt", fetch_limit);
        close_port();
        exit_program(outcome);
      };
    case Conversation::package: {
      const Bytes second = file_content(c.size, static_cast<unsigned>(c.size) + 1);
      write_file("pkg.zrs", qvemu::bytes_of("ZRS,P,Simulated\r\ndesc.txt\r\na.bin\r\nb.bin\r\n"));
      write_file("a.bin", content);
      write_file("b.bin", second);
      expected.device_files = {{"A.BIN", content}, {"B.BIN", second}};
      expected.reset = true;
      return [mode] {
        install_settings = InstallSettings{};
        install_settings.link_mode = mode;
        install_settings.show_desc = false;
        exit_program(install_package("pkg.zrs"));
      };
    }
    case Conversation::program:
      write_file("prog.bas", content);
      expected.device_files.push_back({"PROG.BAS", content});
      expected.reset = true;
      return [mode] {
        install_settings = InstallSettings{};
        install_settings.link_mode = mode;
        install_settings.program_mode = true;
        char name[] = "prog.bas";
        exit_program(install_program(name));
      };
    case Conversation::reset:
      expected.reset = true;
      return [mode] {
        open_port(mode);
        const int reset = reset_device();
        await_enq();
        close_port();
        exit_program(reset ? exit_done : exit_not_done);
      };
  }
  return [] {};
}

// Why a run that exited 0 did not do its job; empty when it did.
std::string shortfall(const Expected& expected, const std::string& output, const std::string& device_trace) {
  for (const auto& [name, bytes] : expected.device_files) {
    const std::optional<Bytes> stored = read_file(device_folder() + "/" + name);
    if (!stored) return "device file " + name + " missing";
    if (*stored != bytes) {
      return "device file " + name + " holds " + std::to_string(stored->size()) + " bytes, not the " +
             std::to_string(bytes.size()) + " sent";
    }
  }
  for (const auto& [name, bytes] : expected.host_files) {
    const std::optional<Bytes> saved = read_file(name);
    if (!saved) return "host file " + name + " missing";
    if (*saved != bytes) {
      return "host file " + name + " holds " + std::to_string(saved->size()) + " bytes, not the device's " +
             std::to_string(bytes.size());
    }
  }
  if (expected.list_printed && output != expected.list) {
    return "list of " + std::to_string(output.size()) + " bytes printed, not the device's " +
           std::to_string(expected.list.size());
  }
  if (expected.reset && device_trace.find("\n= reset\n") == std::string::npos &&
      device_trace.rfind("= reset\n", 0) != 0) {
    return "the device was not reset";
  }
  return {};
}

void reset_host_state(LineKind line) {
  reset_link_state();
  reset_packet_state();
  reset_console_state();
  echo_enabled = line == LineKind::cable_echo || line == LineKind::relay_echo;
}

}  // namespace

Outcome run_case(const Case& c, bool record) {
  Expected expected;
  const Routine routine = prepare(c, expected);
  const bool relay = link_mode_of(c.line) == link_mode_relay;
  const bool echo = c.line == LineKind::cable_echo || c.line == LineKind::relay_echo;

  LineSettings settings;
  settings.baud = relay ? 9600 : 19200;
  settings.parity = relay;
  settings.echo = echo;
  settings.record = record;
  VirtualLine line(settings, c.faults);

  qvemu::Options options;
  options.echo = echo;
  options.relay = relay;
  options.faults = c.device_faults;
  qvemu::Trace device_trace{qvemu::Trace::InMemory{}};
  const qvemu::Storage storage(device_folder());
  qvemu::Emulator emulator(line, device_trace, storage, options);

  Outcome outcome;
  CapturedStreams streams;
  reset_host_state(c.line);
  attach_host(&line);
  begin_host_resources();
  const RunEnd end = line.run(
      [&] {
        try {
          routine();
        } catch (const HostExit& ending) {
          outcome.exit_code = ending.code;
        }
      },
      [&] { emulator.device().serve(); });
  // What the process's end would do: the temporary file of a save cut off
  // goes, and so do the host's blocks and files.
  abandon_save();
  end_host_resources();
  attach_host(nullptr);
  streams.finish();

  outcome.virtual_us = line.elapsed_us();
  outcome.sent[0] = line.bytes_sent(Direction::to_device);
  outcome.sent[1] = line.bytes_sent(Direction::to_host);
  if (end == RunEnd::hung) {
    outcome.verdict = Verdict::hang;
    outcome.why = "still going after " + std::to_string(settings.hang_after_us / 1'000'000) + " s";
  } else if (outcome.exit_code < 0) {
    outcome.verdict = Verdict::silent;
    outcome.why = "the host's routine returned without ending the program";
  } else if (outcome.exit_code != 0) {
    const bool said = streams.errors().find('\n') != std::string::npos;
    outcome.verdict = said ? Verdict::loud : Verdict::silent;
    outcome.why = "exit " + std::to_string(outcome.exit_code) + (said ? "" : " without a message");
  } else {
    outcome.why = shortfall(expected, streams.output(), device_trace.lines());
    outcome.verdict = outcome.why.empty() ? Verdict::whole : Verdict::silent;
    if (!outcome.why.empty()) outcome.why = "exit 0, " + outcome.why;
  }
  if (record) {
    outcome.host_errors = streams.errors();
    outcome.host_output = streams.output();
    outcome.line_trace = line.trace();
    outcome.device_trace = device_trace.lines();
  }
  return outcome;
}

}  // namespace sim
