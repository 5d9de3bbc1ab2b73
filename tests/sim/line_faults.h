// Faults on the simulated line: each one strikes one byte, named by its
// direction and its index among the bytes sent that way in the run (the
// echo of the host's bytes included, since it travels to the host).
//
// Written as text so that a failing case can be run again from one line:
//   to-host 120 flip:3        bit 3 of the 121st byte to the host inverted
//   to-device 7 drop          the byte never arrives
//   to-device 7 double        it arrives twice
//   to-host 40 insert:00-00-96  the bytes arrive right after it
//   to-host 40 pause:1500     the line stalls 1.5 s before it
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

enum class Direction { to_device, to_host };

enum class FaultKind { flip, drop, twice, insert, pause };

struct Fault {
  Direction direction = Direction::to_device;
  long index = 0;
  FaultKind kind = FaultKind::flip;
  int bit = 0;         // flip
  Bytes inserted;      // insert: arrive right after the byte
  int pause_ms = 0;    // pause: before the byte
};

// What arrives of one byte sent: after a pause, these bytes.
struct Passage {
  int pause_ms = 0;
  Bytes bytes;
};

// The passage of byte, the index-th sent in direction, through faults.
Passage pass_byte(const std::vector<Fault>& faults, Direction direction, long index, std::uint8_t byte);

std::string describe_direction(Direction direction);
// "to-host 120 flip:3": what describe gives, parse takes back.
std::string describe_fault(const Fault& fault);
// The fault's own part, without direction and index: "flip:3", "drop", ...
std::string describe_fault_kind(const Fault& fault);
std::optional<Fault> parse_fault(const std::string& text);

}  // namespace sim
