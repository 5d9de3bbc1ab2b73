// The PC-link units as they travel on the line, seen from the device: the
// single control bytes and the Packet (SOH, number, complement, 16-bit
// little-endian length, payload, 16-bit little-endian checksum of the
// payload). Decoding takes the bytes from any source, so that a relay
// transport can feed it the payload of a frame as the cable feeds it the line.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qvemu {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t SOH = 0x01;
constexpr std::uint8_t EOT = 0x04;
constexpr std::uint8_t ENQ = 0x05;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t NAK = 0x15;
constexpr std::uint8_t CAN = 0x18;

// Sum of the bytes modulo 65536.
std::uint16_t checksum16(const Bytes& bytes);

// The line bytes of one Packet. A damaged Packet carries a checksum one off.
Bytes encode_packet(int number, const Bytes& payload, bool damaged = false);

// garbled: bytes that hold no unit or more than one where exactly one
// belongs, a relay frame's payload going on after its unit (unit_of_frame).
enum class UnitKind { control, packet, truncated, garbled };

// One unit received from the host, with the bytes exactly as they came.
struct HostUnit {
  UnitKind kind = UnitKind::control;
  Bytes raw;
  std::uint8_t control = 0;      // kind control
  std::uint8_t number = 0;       // kind packet: the number byte
  std::uint8_t complement = 0;   // kind packet: the complement byte
  Bytes payload;                 // kind packet
  std::uint16_t sent_checksum = 0;

  bool is_control(std::uint8_t byte) const { return kind == UnitKind::control && control == byte; }
  bool complement_ok() const { return static_cast<std::uint8_t>(~number) == complement; }
  bool checksum_ok() const { return checksum16(payload) == sent_checksum; }
};

// Source of the bytes of one unit: the first byte may be awaited without
// limit, the rest arrive under a per-byte time-out; nullopt on a time-out.
using ByteSource = std::function<std::optional<std::uint8_t>(bool first_of_unit)>;

// Reads one unit: a whole Packet when the first byte is SOH, else one
// control byte. A Packet cut short by a time-out comes back as truncated.
HostUnit read_host_unit(const ByteSource& next_byte);

// The unit a relay frame from the host carries. A frame holds exactly one
// unit; bytes after it mean that the unit inside was damaged on the way and
// the frame's own sum collided, so the whole payload comes back as garbled,
// which the device refuses with NAK where it awaits a Packet, rather than
// passing it over and leaving both sides waiting for each other.
HostUnit unit_of_frame(const Bytes& payload);

// "ACK", "EOT", ... or "byte 0x41".
std::string control_name(std::uint8_t byte);
// Payload as a quoted text: printable ASCII as is, the rest as \xNN.
std::string quote_payload(const Bytes& payload);
// "01 01 FE" (upper-case hex, single spaces).
std::string hex_bytes(const Bytes& bytes);
// The decoded half of a trace line for a unit the host sent.
std::string describe_host_unit(const HostUnit& unit);

Bytes bytes_of(const std::string& text);

}  // namespace qvemu
