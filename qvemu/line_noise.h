// Noise on the line, both ways, the echo included: at a rate P per byte a
// bit flipped, and at P/10 each a byte dropped, a byte doubled, 2 to 8
// garbage bytes after a byte, a pause of 0.1 to 2 s before a byte. Seeded,
// with one random stream per direction, so that a run with the same seed and
// the same bytes meets the same faults. Every fault is traced as an event
// ("= noise ..."), and so is a Packet whose data reaches the host altered
// but with every check still sound, so that a wrong file accepted by the
// host can be told apart from a fault of the host's own.
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

// A device Packet whose file data reached the host altered and yet passes
// every check the host makes: its number as sent, the complement, its tag,
// each checksum. Only the data behind the three-letter tag counts, the part
// the host keeps of a data Packet; a changed number or tag the host catches.
struct Collision {
  int number = 0;
  Bytes sent_data;      // the data behind the tag as the device sent it
  Bytes received_data;  // and as it reached the host
};

// The collision, if a unit the device sent (a Packet, or a relay block
// carrying one) reached the host as received that way.
std::optional<Collision> find_collision(const Bytes& sent, const Bytes& received);

// The trace event of a collision: "noise collision: Packet N reaches the host
// altered, every check sound; data sent HEX; received HEX". The noise soak
// reads the two data fields to tell whether a wrong result is explained by it.
std::string collision_event(const Collision& collision);

// All the bytes of the stretches, pauses left out.
Bytes joined(const std::vector<NoisyStretch>& stretches);

}  // namespace qvemu
