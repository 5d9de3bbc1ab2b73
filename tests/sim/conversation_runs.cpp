// One run of a case, and the judge of its outcome.
#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/file_saves.h"
#include "pclink/local_files.h"
#include "pclink/packet.h"
#include "pclink/relay.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "qvemu/emulator.h"
#include "sim/conversation_runs.h"
#include "sim/conversations.h"
#include "sim/host_platform.h"
#include "sim/host_routines.h"
#include "sim/host_process.h"

namespace sim {

namespace {

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
  reset_relay_state();
  reset_packet_state();
  clear_ending_note();
  reset_console_state();
  echo_enabled = line == LineKind::cable_echo || line == LineKind::relay_echo;
}

}  // namespace

Outcome run_case(const Case& c, bool record) {
  Expected expected;
  const Routine routine = prepare(c, expected);
  const bool relay = is_relay(c.line);
  const bool echo = c.line == LineKind::cable_echo || c.line == LineKind::relay_echo;

  LineSettings settings;
  settings.baud = relay ? 9600 : 19200;
  settings.parity = relay;
  settings.echo = echo;
  settings.record = record;
  // A noisy run of a large file may go on for long and still be sound.
  if (c.noise) settings.hang_after_us += c.size * 20'000LL;
  qvemu::Trace device_trace{qvemu::Trace::InMemory{}};
  VirtualLine line = c.noise ? VirtualLine(settings, c.faults, *c.noise, device_trace) : VirtualLine(settings, c.faults);

  qvemu::Options options;
  options.echo = echo;
  options.relay = relay;
  options.faults = c.device_faults;
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
  const platform::LineSettings opened = host_line_settings();
  attach_host(nullptr);
  streams.finish();
  // The simulated line runs at the link mode's rate and parity; a host that
  // opened its port otherwise would not have been heard on a real line.
  const bool settings_kept = opened.baud == 0 || (opened.baud == settings.baud && opened.odd_parity == relay);

  outcome.virtual_us = line.elapsed_us();
  outcome.sent[0] = line.bytes_sent(Direction::to_device);
  outcome.sent[1] = line.bytes_sent(Direction::to_host);
  if (end == RunEnd::hung) {
    outcome.verdict = Verdict::hang;
    outcome.why = "still going after " + std::to_string(settings.hang_after_us / 1'000'000) + " s";
  } else if (!settings_kept) {
    outcome.verdict = Verdict::silent;
    outcome.why = "the port opened at " + std::to_string(opened.baud) + (opened.odd_parity ? " baud, odd parity" : " baud") +
                  ", not the link mode's";
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
