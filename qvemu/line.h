// The device's end of the line, as the transports see it: bytes from the
// host one at a time under a time-out, echoed as the cable does, units and
// relay blocks to the host, and the line's own clock. The pseudo-terminal
// (pty_line.h) is one line; a simulated line in virtual time is another, so
// that the same device code answers the programs on either.
#pragma once

#include <cstdint>
#include <optional>

#include "qvemu/packet_codec.h"

namespace qvemu {

// Thrown out of a read or write when the host closed the port.
struct SessionClosed {};

class Line {
 public:
  virtual ~Line() = default;
  // The next byte from the host, echoed back first when the line echoes
  // (with its low bit flipped when damage_echo is set); timeout_ms < 0
  // waits without limit. nullopt when the time-out expired.
  virtual std::optional<std::uint8_t> read_byte(int timeout_ms, bool damage_echo = false) = 0;
  // One unit (or relay block) to the host.
  virtual void write(const Bytes& bytes) = 0;
  // Microseconds on the line's clock, which never goes back.
  virtual std::int64_t now_us() = 0;
};

}  // namespace qvemu
