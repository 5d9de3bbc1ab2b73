#include "qvemu/relay_block.h"

#include <algorithm>
#include <cstdio>

namespace qvemu {

namespace {

void append_word(Bytes& bytes, int value) {
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

std::string hex_value(const char* format, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The host sends a frame in one go, and after each of its blocks it waits
// at least 0.4 s for an answer. A payload that stops for longer than this
// is given up: its length field was damaged, and read on, it would swallow
// the host's next blocks as payload, leaving the device deaf for as long as
// the damaged length lasts.
constexpr int payload_byte_timeout_ms = 300;

// Reads the rest of a block after its mark into block; false on a time-out.
bool read_block_body(const TimedByteSource& next_byte, int byte_timeout_ms, RelayBlock& block) {
  auto take = [&](Bytes* out, std::size_t count, int timeout_ms) {
    for (std::size_t i = 0; i < count; ++i) {
      std::optional<std::uint8_t> byte = next_byte(timeout_ms);
      if (!byte) return false;
      block.raw.push_back(*byte);
      if (out) out->push_back(*byte);
    }
    return true;
  };
  Bytes kind;
  if (!take(&kind, 1, byte_timeout_ms)) return false;
  block.code_or_kind = kind[0];
  if (kind[0] == relay_control_kind) {
    Bytes code;
    if (!take(&code, 1, byte_timeout_ms)) return false;
    block.kind = BlockKind::control;
    block.code_or_kind = code[0];
    return true;
  }
  if (kind[0] != relay_frame_kind) {
    block.kind = BlockKind::other_kind;
    return true;
  }
  Bytes header;
  if (!take(&header, 3, byte_timeout_ms)) return false;
  block.fixed = header[0];
  block.number = header[1] | (header[2] << 8);
  if (!take(&block.fixed_triple, 3, byte_timeout_ms)) return false;
  Bytes length;
  if (!take(&length, 2, byte_timeout_ms)) return false;
  const int claimed = length[0] | (length[1] << 8);
  if (claimed > relay_max_payload) return false;
  if (!take(&block.payload, static_cast<std::size_t>(claimed), std::min(byte_timeout_ms, payload_byte_timeout_ms))) {
    return false;
  }
  Bytes checksum;
  if (!take(&checksum, 2, byte_timeout_ms)) return false;
  block.sent_checksum = static_cast<std::uint16_t>(checksum[0] | (checksum[1] << 8));
  block.kind = BlockKind::frame;
  return true;
}

}  // namespace

Bytes encode_relay_control(std::uint8_t code, int zeros) {
  Bytes block(static_cast<std::size_t>(zeros), 0x00);
  block.insert(block.end(), {relay_mark, relay_control_kind, code});
  return block;
}

Bytes encode_relay_frame(const Bytes& payload, const FrameShape& shape) {
  Bytes frame(static_cast<std::size_t>(shape.zeros), 0x00);
  frame.insert(frame.end(), {relay_mark, shape.kind, relay_fixed_byte});
  append_word(frame, shape.number);
  frame.insert(frame.end(), relay_fixed_triple.begin(), relay_fixed_triple.end());
  append_word(frame, static_cast<int>(payload.size()));
  frame.insert(frame.end(), payload.begin(), payload.end());
  append_word(frame, (checksum16(payload) + (shape.damaged ? 1 : 0)) & 0xFFFF);
  return frame;
}

std::string relay_code_name(std::uint8_t code) {
  switch (code) {
    case relay_enq: return "ENQ";
    case relay_syn: return "SYN";
    case relay_ack: return "ACK";
    case relay_nak: return "NAK";
    default: return hex_value("code 0x%02X", code);
  }
}

RelayBlock read_relay_block(const TimedByteSource& next_byte, int first_timeout_ms, int byte_timeout_ms) {
  RelayBlock block;
  for (;;) {
    std::optional<std::uint8_t> byte = next_byte(first_timeout_ms);
    if (!byte) return block;
    if (*byte != 0x00) {
      block.skipped.push_back(*byte);
      continue;
    }
    int zeros = 1;
    while ((byte = next_byte(byte_timeout_ms)) && *byte == 0x00) ++zeros;
    if (zeros >= 2 && byte && *byte == relay_mark) {
      block.zeros = zeros;
      block.raw.assign(static_cast<std::size_t>(zeros), 0x00);
      block.raw.push_back(relay_mark);
      if (!read_block_body(next_byte, byte_timeout_ms, block)) block.kind = BlockKind::truncated;
      return block;
    }
    block.skipped.insert(block.skipped.end(), static_cast<std::size_t>(zeros), 0x00);
    if (!byte) return block;
    block.skipped.push_back(*byte);
  }
}

std::string describe_relay_block(const RelayBlock& block) {
  switch (block.kind) {
    case BlockKind::silence: return "relay silence";
    case BlockKind::control: return "relay " + relay_code_name(block.code_or_kind);
    case BlockKind::other_kind: return "relay block of kind " + hex_value("0x%02X", block.code_or_kind);
    case BlockKind::truncated: return "relay block cut short";
    case BlockKind::frame: break;
  }
  std::string text = "relay frame " + hex_value("0x%04X", static_cast<unsigned>(block.number)) + ", " +
                     std::to_string(block.payload.size()) + " bytes";
  if (!block.checksum_ok()) text += " (bad checksum)";
  return text;
}

}  // namespace qvemu
