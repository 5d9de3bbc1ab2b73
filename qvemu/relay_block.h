// The optical relay adapter's blocks as they travel on the line. A control
// block is five zero bytes, 0x96, 0x82 and a code; a frame is five zero
// bytes, 0x96, 0x81, 0x10, a 16-bit frame number, 0x01 0x40 0xFE, a 16-bit
// payload length, the payload and the 16-bit checksum of the payload (all
// 16-bit values little-endian). A receiver finds a block by a run of at
// least two zero bytes followed by 0x96.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "qvemu/packet_codec.h"

namespace qvemu {

constexpr std::uint8_t relay_mark = 0x96;
constexpr std::uint8_t relay_control_kind = 0x82;
constexpr std::uint8_t relay_frame_kind = 0x81;

constexpr std::uint8_t relay_enq = 0x05;
constexpr std::uint8_t relay_syn = 0x16;
constexpr std::uint8_t relay_ack = 0x06;
constexpr std::uint8_t relay_nak = 0x15;

constexpr int relay_sync_length = 5;
// The relay buffer on either side holds this many payload bytes. A frame
// claiming more has a damaged length: it is not read on, or the bytes that
// follow (the sender's next ENQ blocks) would be taken as its payload.
constexpr int relay_max_payload = 4096;
constexpr int relay_any_number = 0xFFFF;
const Bytes relay_fixed_triple = {0x01, 0x40, 0xFE};
constexpr std::uint8_t relay_fixed_byte = 0x10;

// How a frame the device sends departs from a sound one.
struct FrameShape {
  int zeros = relay_sync_length;
  std::uint8_t kind = relay_frame_kind;
  int number = relay_any_number;
  bool damaged = false;  // checksum one off
};

Bytes encode_relay_control(std::uint8_t code, int zeros = relay_sync_length);
Bytes encode_relay_frame(const Bytes& payload, const FrameShape& shape = {});

// "ENQ", "SYN", "ACK", "NAK" or "code 0x41".
std::string relay_code_name(std::uint8_t code);

enum class BlockKind { silence, control, frame, other_kind, truncated };

// One block as received, with everything that came before it.
struct RelayBlock {
  BlockKind kind = BlockKind::silence;
  Bytes skipped;       // bytes passed over before the block began
  Bytes raw;           // the block's bytes, from its first zero byte
  int zeros = 0;       // zero bytes before the mark
  std::uint8_t code_or_kind = 0;  // control: the code; other_kind: the kind byte
  std::uint8_t fixed = 0;
  int number = 0;
  Bytes fixed_triple;
  Bytes payload;
  std::uint16_t sent_checksum = 0;

  bool is_control(std::uint8_t code) const { return kind == BlockKind::control && code_or_kind == code; }
  bool checksum_ok() const { return checksum16(payload) == sent_checksum; }
};

// Source of line bytes: waits at most timeout_ms (< 0: without limit);
// nullopt on a time-out.
using TimedByteSource = std::function<std::optional<std::uint8_t>(int timeout_ms)>;

// Reads the next block. The first byte of each attempt to find a block is
// awaited for first_timeout_ms (silence: kind silence); the bytes of a block
// follow within byte_timeout_ms (otherwise, or when a frame claims more than
// relay_max_payload bytes: kind truncated).
RelayBlock read_relay_block(const TimedByteSource& next_byte, int first_timeout_ms, int byte_timeout_ms);

// The decoded half of a trace line for a block.
std::string describe_relay_block(const RelayBlock& block);

}  // namespace qvemu
