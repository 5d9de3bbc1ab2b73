#include "sim/line_faults.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace sim {

Passage pass_byte(const std::vector<Fault>& faults, Direction direction, long index, std::uint8_t byte) {
  Passage passage{0, {byte}};
  for (const Fault& fault : faults) {
    if (fault.direction != direction || fault.index != index) continue;
    switch (fault.kind) {
      case FaultKind::flip:
        for (std::uint8_t& arrived : passage.bytes) arrived = static_cast<std::uint8_t>(arrived ^ (1u << fault.bit));
        break;
      case FaultKind::drop:
        passage.bytes.clear();
        break;
      case FaultKind::twice:
        if (!passage.bytes.empty()) passage.bytes.push_back(passage.bytes.back());
        break;
      case FaultKind::insert:
        passage.bytes.insert(passage.bytes.end(), fault.inserted.begin(), fault.inserted.end());
        break;
      case FaultKind::pause:
        passage.pause_ms += fault.pause_ms;
        break;
    }
  }
  return passage;
}

std::string describe_direction(Direction direction) {
  return direction == Direction::to_device ? "to-device" : "to-host";
}

std::string describe_fault_kind(const Fault& fault) {
  switch (fault.kind) {
    case FaultKind::flip:
      return "flip:" + std::to_string(fault.bit);
    case FaultKind::drop:
      return "drop";
    case FaultKind::twice:
      return "double";
    case FaultKind::insert: {
      std::string text = "insert:";
      for (std::size_t i = 0; i < fault.inserted.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", fault.inserted[i]);
        text += (i == 0 ? "" : "-") + std::string(hex);
      }
      return text;
    }
    case FaultKind::pause:
      return "pause:" + std::to_string(fault.pause_ms);
  }
  return "?";
}

std::string describe_fault(const Fault& fault) {
  return describe_direction(fault.direction) + " " + std::to_string(fault.index) + " " + describe_fault_kind(fault);
}

namespace {

bool parse_number(const std::string& text, long low, long high, long& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = std::strtol(text.c_str(), nullptr, 10);
  return value >= low && value <= high;
}

bool parse_inserted(const std::string& text, Bytes& bytes) {
  std::istringstream parts(text);
  std::string part;
  while (std::getline(parts, part, '-')) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(part.c_str(), &end, 16);
    if (part.size() != 2 || *end != '\0' || value > 0xFF) return false;
    bytes.push_back(static_cast<std::uint8_t>(value));
  }
  return !bytes.empty() && bytes.size() <= 8;
}

}  // namespace

std::optional<Fault> parse_fault(const std::string& text) {
  std::istringstream words(text);
  std::string direction, index, kind, rest;
  if (!(words >> direction >> index >> kind) || (words >> rest)) return std::nullopt;
  Fault fault;
  if (direction == "to-device") {
    fault.direction = Direction::to_device;
  } else if (direction == "to-host") {
    fault.direction = Direction::to_host;
  } else {
    return std::nullopt;
  }
  if (!parse_number(index, 0, 999999999, fault.index)) return std::nullopt;
  const std::size_t colon = kind.find(':');
  const std::string name = kind.substr(0, colon);
  const std::string value = colon == std::string::npos ? "" : kind.substr(colon + 1);
  long number = 0;
  if (name == "flip" && parse_number(value, 0, 7, number)) {
    fault.kind = FaultKind::flip;
    fault.bit = static_cast<int>(number);
  } else if (name == "drop" && colon == std::string::npos) {
    fault.kind = FaultKind::drop;
  } else if (name == "double" && colon == std::string::npos) {
    fault.kind = FaultKind::twice;
  } else if (name == "insert" && parse_inserted(value, fault.inserted)) {
    fault.kind = FaultKind::insert;
  } else if (name == "pause" && parse_number(value, 1, 3600000, number)) {
    fault.kind = FaultKind::pause;
    fault.pause_ms = static_cast<int>(number);
  } else {
    return std::nullopt;
  }
  return fault;
}

}  // namespace sim
