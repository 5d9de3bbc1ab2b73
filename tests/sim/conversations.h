// One simulated conversation: a host routine of the programs against the
// emulated device over a virtual line with faults, judged by what ended up
// on the other side.
//
// A case is written as one line, so that any run can be repeated:
//   <conversation> <line> <size> [<fault> [+ <fault>]]
//   send-v relay-echo 254 to-host 1203 flip:6
//   send cable-echo 30000 noise:7:0.003
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qvemu/options.h"
#include "sim/line_faults.h"

namespace sim {

enum class Conversation {
  send,            // qvcopy up.bin UP.BIN
  send_verified,   // qvcopy -v up.bin UP.BIN
  fetch,           // qvcopy -g DOWN.BIN down.bin
  fetch_verified,  // qvcopy -g -v DOWN.BIN down.bin
  list,            // qvdir
  log_send,        // qvcomlog -c3 memo.txt
  log_fetch,       // qvcomlog -g -c5 log5.txt
  package,         // qvinstall -D pkg.zrs, a package of two files
  program,         // qvinstall -q prog.bas
  reset,           // qvrestart -r
};

enum class LineKind { cable_echo, cable, relay_echo, relay };

const std::vector<Conversation>& all_conversations();
const std::vector<LineKind>& all_lines();
// The file sizes a conversation is run with; one size (0) where it moves no file.
const std::vector<int>& sizes_of(Conversation conversation);

std::string conversation_name(Conversation conversation);
std::string line_name(LineKind line);

struct Case {
  Conversation conversation = Conversation::send;
  LineKind line = LineKind::cable_echo;
  int size = 0;
  std::vector<Fault> faults;
  // Random noise on the line as qvemu --noise makes it: "noise:SEED:RATE"
  // in the case's line, before its faults.
  std::optional<qvemu::NoiseSettings> noise;
  // Faults of the device's own (qvemu's), for checking the judge; not part
  // of a case's line.
  qvemu::Faults device_faults;
};

Case make_case(Conversation conversation, LineKind line, int size, std::vector<Fault> faults = {});
std::string describe_case(const Case& c);
std::optional<Case> parse_case(const std::string& text);

enum class Verdict { whole, loud, silent, hang };
std::string verdict_name(Verdict verdict);

struct Outcome {
  Verdict verdict = Verdict::whole;
  int exit_code = -1;     // -1: the host never ended
  std::string why;        // for every verdict but whole
  std::int64_t virtual_us = 0;
  long sent[2] = {0, 0};  // bytes sent to the device, to the host
  // With recording on: the host's standard error and output, the bytes on
  // the line, and the device's own trace.
  std::string host_errors;
  std::string host_output;
  std::string line_trace;
  std::string device_trace;
};

// Runs one case. The first call makes a workspace under TMPDIR (or /tmp)
// and makes it the current folder; the host's files live there.
Outcome run_case(const Case& c, bool record = false);

}  // namespace sim
