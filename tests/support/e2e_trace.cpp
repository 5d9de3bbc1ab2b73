// qvemu's trace read back: the units each side sent, the host's protocol
// violations and the emulator's events; and bytes to hex and back, as the
// trace writes them.
#include "support/e2e.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> lines_with_mark(const std::string& trace, char mark) {
  std::vector<std::string> found;
  for (const std::string& line : lines_of(trace)) {
    if (line.size() >= 2 && line[0] == mark && line[1] == ' ') found.push_back(line.substr(2));
  }
  return found;
}

std::string bytes_from_side(const std::string& trace, char side) {
  std::string bytes;
  for (const TraceUnit& unit : trace_units(trace)) {
    if (unit.side == side) bytes += unit.bytes;
  }
  return bytes;
}

}  // namespace

std::vector<TraceUnit> trace_units(const std::string& trace) {
  std::vector<TraceUnit> units;
  for (const std::string& line : lines_of(trace)) {
    if (line.size() < 2 || (line[0] != 'H' && line[0] != 'D') || line[1] != ' ') continue;
    const auto bar = line.find(" | ");
    TraceUnit unit;
    unit.side = line[0];
    unit.bytes = from_hex(line.substr(2, bar == std::string::npos ? std::string::npos : bar - 2));
    if (bar != std::string::npos) unit.decoded = line.substr(bar + 3);
    units.push_back(unit);
  }
  return units;
}

std::string host_bytes(const std::string& trace) {
  return bytes_from_side(trace, 'H');
}

std::string device_bytes(const std::string& trace) {
  return bytes_from_side(trace, 'D');
}

std::vector<std::string> trace_violations(const std::string& trace) {
  return lines_with_mark(trace, '!');
}

std::vector<std::string> trace_events(const std::string& trace) {
  return lines_with_mark(trace, '=');
}

bool has_event(const std::string& trace, const std::string& event) {
  const std::vector<std::string> events = trace_events(trace);
  return std::find(events.begin(), events.end(), event) != events.end();
}

std::string from_hex(const std::string& hex) {
  std::string bytes;
  std::string digits;
  for (char c : hex) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      bytes += static_cast<char>(std::strtol(digits.c_str(), nullptr, 16));
      digits.clear();
    }
  }
  return bytes;
}

std::string to_hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    if (!hex.empty()) hex += ' ';
    hex += pair;
  }
  return hex;
}

std::size_t data_packets_answered(const std::string& trace) {
  std::size_t answered = 0;
  bool reading = false;
  bool after_packet = false;
  for (const std::string& line : lines_of(trace)) {
    if (line.rfind("= read ", 0) == 0) reading = true;
    if (reading && after_packet && (line.rfind("H 06 ", 0) == 0 || line.rfind("H 15 ", 0) == 0)) ++answered;
    after_packet = line.rfind("D 01 ", 0) == 0;
  }
  return answered;
}
