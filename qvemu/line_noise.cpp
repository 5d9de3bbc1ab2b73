#include "qvemu/line_noise.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>

#include "qvemu/relay_block.h"

namespace qvemu {

namespace {

constexpr double largest_rate = 0.1;
constexpr int shortest_pause_ms = 100;
constexpr int longest_pause_ms = 2000;
constexpr int fewest_garbage_bytes = 2;
constexpr int most_garbage_bytes = 8;
// The three-letter tag in front of a Packet's data ("AFV", "AFF").
constexpr std::size_t tag_length = 3;
// Each direction draws from a stream of its own, so that what one side
// sends never shifts the faults the other side meets.
constexpr std::uint64_t to_host_stream = 0x9E3779B97F4A7C15ull;

std::string hex_byte(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

HostUnit unit_at_front(const Bytes& bytes) {
  std::size_t position = 0;
  return read_host_unit([&](bool) -> std::optional<std::uint8_t> {
    if (position < bytes.size()) return bytes[position++];
    return std::nullopt;
  });
}

bool is_relay_block(const Bytes& bytes) {
  return bytes.size() > 2 && bytes[0] == 0 && bytes[1] == 0;
}

// The unit a relay frame carries, or nullopt when the host refuses the
// block as a frame (or it is a control block).
std::optional<Bytes> frame_payload(const Bytes& bytes) {
  std::size_t position = 0;
  const RelayBlock block = read_relay_block(
      [&](int) -> std::optional<std::uint8_t> {
        if (position < bytes.size()) return bytes[position++];
        return std::nullopt;
      },
      0, 0);
  if (block.kind != BlockKind::frame || !block.checksum_ok()) return std::nullopt;
  return block.payload;
}

}  // namespace

std::optional<NoiseSettings> parse_noise(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon > 19) return std::nullopt;
  NoiseSettings settings;
  for (std::size_t i = 0; i < colon; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  settings.seed = std::strtoull(text.substr(0, colon).c_str(), nullptr, 10);
  const std::string rate = text.substr(colon + 1);
  char* end = nullptr;
  settings.rate = std::strtod(rate.c_str(), &end);
  if (rate.empty() || *end != '\0' || !(settings.rate >= 0 && settings.rate <= largest_rate)) return std::nullopt;
  return settings;
}

LineNoise::LineNoise(const NoiseSettings& settings, Trace& trace)
    : settings_(settings), trace_(trace), to_device_{std::mt19937_64(settings.seed)},
      to_host_{std::mt19937_64(settings.seed ^ to_host_stream)} {}

bool LineNoise::happens(Stream& stream, double probability) {
  return std::uniform_real_distribution<double>(0, 1)(stream.random) < probability;
}

void LineNoise::report(Direction direction, long long position, const std::string& what) {
  trace_.event(std::string("noise to ") + (direction == Direction::to_host ? "host" : "device") + " at byte " +
               std::to_string(position) + ": " + what);
}

std::vector<NoisyStretch> LineNoise::pass(Direction direction, const Bytes& sent) {
  std::vector<NoisyStretch> stretches(1);
  if (!active()) {
    stretches[0].bytes = sent;
    return stretches;
  }
  Stream& stream = direction == Direction::to_host ? to_host_ : to_device_;
  const double rare = settings_.rate / 10;
  for (std::uint8_t byte : sent) {
    const long long position = stream.bytes_passed++;
    if (happens(stream, rare)) {
      const int pause_ms = std::uniform_int_distribution<int>(shortest_pause_ms, longest_pause_ms)(stream.random);
      report(direction, position, "pause of " + std::to_string(pause_ms) + " ms before " + hex_byte(byte));
      stretches.push_back({pause_ms, {}});
    }
    Bytes& out = stretches.back().bytes;
    if (happens(stream, rare)) {
      report(direction, position, hex_byte(byte) + " dropped");
      continue;
    }
    if (happens(stream, settings_.rate)) {
      const int bit = std::uniform_int_distribution<int>(0, 7)(stream.random);
      const auto damaged = static_cast<std::uint8_t>(byte ^ (1u << bit));
      report(direction, position, "bit " + std::to_string(bit) + " flipped, " + hex_byte(byte) + " -> " + hex_byte(damaged));
      byte = damaged;
    }
    out.push_back(byte);
    if (happens(stream, rare)) {
      report(direction, position, hex_byte(byte) + " doubled");
      out.push_back(byte);
    }
    if (happens(stream, rare)) {
      const int count = std::uniform_int_distribution<int>(fewest_garbage_bytes, most_garbage_bytes)(stream.random);
      Bytes garbage;
      for (int i = 0; i < count; ++i) garbage.push_back(static_cast<std::uint8_t>(stream.random() & 0xFF));
      report(direction, position, std::to_string(count) + " garbage bytes " + hex_bytes(garbage) + " after " + hex_byte(byte));
      out.insert(out.end(), garbage.begin(), garbage.end());
    }
  }
  return stretches;
}

std::optional<Collision> find_collision(const Bytes& sent, const Bytes& received) {
  if (sent == received) return std::nullopt;
  Bytes sent_unit = sent;
  Bytes received_unit = received;
  if (is_relay_block(sent)) {
    const std::optional<Bytes> sent_payload = frame_payload(sent);
    const std::optional<Bytes> received_payload = frame_payload(received);
    if (!sent_payload || !received_payload) return std::nullopt;
    sent_unit = *sent_payload;
    received_unit = *received_payload;
  }
  // A lone control byte carries no file data; only Packets are judged.
  if (sent_unit.empty() || sent_unit[0] != SOH) return std::nullopt;
  const HostUnit original = unit_at_front(sent_unit);
  const HostUnit arrived = unit_at_front(received_unit);
  if (arrived.kind != UnitKind::packet || !arrived.complement_ok() || !arrived.checksum_ok() ||
      arrived.number != original.number || original.payload.size() < tag_length ||
      arrived.payload.size() < tag_length ||
      !std::equal(original.payload.begin(), original.payload.begin() + tag_length, arrived.payload.begin())) {
    return std::nullopt;
  }
  Collision collision{original.number, Bytes(original.payload.begin() + tag_length, original.payload.end()),
                      Bytes(arrived.payload.begin() + tag_length, arrived.payload.end())};
  if (collision.sent_data == collision.received_data) return std::nullopt;
  return collision;
}

std::string collision_event(const Collision& collision) {
  return "noise collision: Packet " + std::to_string(collision.number) +
         " reaches the host altered, every check sound; data sent " + hex_bytes(collision.sent_data) +
         "; received " + hex_bytes(collision.received_data);
}

Bytes joined(const std::vector<NoisyStretch>& stretches) {
  Bytes all;
  for (const NoisyStretch& stretch : stretches) all.insert(all.end(), stretch.bytes.begin(), stretch.bytes.end());
  return all;
}

}  // namespace qvemu
