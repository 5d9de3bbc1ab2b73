// Noise on the line, both ways, the echo included: at a rate P per byte a
// bit flipped, and at P/10 each a byte dropped, a byte doubled, 2 to 8
// garbage bytes after a byte, a pause of 0.1 to 2 s before a byte. Seeded,
// with one random stream per direction, so that a run with the same seed and
// the same bytes meets the same faults. Every fault is traced as an event
// ("= noise ..."), and so is a unit that reaches the host altered but with
// every check still sound, so that a wrong file accepted by the host can be
// told apart from a fault of the host's own.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "qvemu/packet_codec.h"
#include "qvemu/trace.h"

namespace qvemu {

struct NoiseSettings {
  std::uint64_t seed = 0;
  double rate = 0;  // bit flips per byte; 0: a clean line
};

// "SEED:RATE", e.g. "7:1e-3"; nullopt unless SEED is a decimal count and
// RATE a number from 0 to 0.1.
std::optional<NoiseSettings> parse_noise(const std::string& text);

// What the far end receives, in order: bytes, each stretch after a pause.
struct NoisyStretch {
  int pause_ms = 0;
  Bytes bytes;
};

enum class Direction { to_device, to_host };

class LineNoise {
 public:
  LineNoise(const NoiseSettings& settings, Trace& trace);

  bool active() const { return settings_.rate > 0; }
  // Passes bytes sent in one direction through the noise.
  std::vector<NoisyStretch> pass(Direction direction, const Bytes& sent);

 private:
  struct Stream {
    std::mt19937_64 random;
    long long bytes_passed = 0;
  };

  bool happens(Stream& stream, double probability);
  void report(Direction direction, long long position, const std::string& what);

  NoiseSettings settings_;
  Trace& trace_;
  Stream to_device_;
  Stream to_host_;
};

// Whether a unit the device sent (a Packet, or a relay block carrying one)
// reaches the host changed and yet passes every check the host can make:
// number and complement, length, and each checksum.
bool altered_but_sound(const Bytes& sent, const Bytes& received);

// All the bytes of the stretches, pauses left out.
Bytes joined(const std::vector<NoisyStretch>& stretches);

}  // namespace qvemu
