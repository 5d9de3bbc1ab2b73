#include "qvemu/packet_codec.h"

#include <cstdio>

namespace qvemu {

std::uint16_t checksum16(const Bytes& bytes) {
  std::uint32_t sum = 0;
  for (std::uint8_t byte : bytes) sum += byte;
  return static_cast<std::uint16_t>(sum & 0xFFFF);
}

Bytes encode_packet(int number, const Bytes& payload, bool damaged) {
  const auto number_byte = static_cast<std::uint8_t>(number & 0xFF);
  const auto length = payload.size();
  Bytes line;
  line.reserve(5 + length + 2);
  for (std::uint8_t byte : {SOH, number_byte, static_cast<std::uint8_t>(~number_byte),
                            static_cast<std::uint8_t>(length & 0xFF), static_cast<std::uint8_t>((length >> 8) & 0xFF)}) {
    line.push_back(byte);
  }
  line.insert(line.end(), payload.begin(), payload.end());
  std::uint16_t checksum = checksum16(payload);
  if (damaged) checksum = static_cast<std::uint16_t>(checksum + 1);
  line.push_back(static_cast<std::uint8_t>(checksum & 0xFF));
  line.push_back(static_cast<std::uint8_t>(checksum >> 8));
  return line;
}

namespace {

// Reads count bytes into unit.raw (and out, when given); false on a time-out.
bool read_bytes(const ByteSource& next_byte, HostUnit& unit, std::size_t count, Bytes* out) {
  for (std::size_t i = 0; i < count; ++i) {
    std::optional<std::uint8_t> byte = next_byte(false);
    if (!byte) return false;
    unit.raw.push_back(*byte);
    if (out) out->push_back(*byte);
  }
  return true;
}

}  // namespace

HostUnit read_host_unit(const ByteSource& next_byte) {
  HostUnit unit;
  std::optional<std::uint8_t> first = next_byte(true);
  while (!first) first = next_byte(true);
  unit.raw.push_back(*first);
  if (*first != SOH) {
    unit.control = *first;
    return unit;
  }
  unit.kind = UnitKind::truncated;
  Bytes header;
  if (!read_bytes(next_byte, unit, 4, &header)) return unit;
  unit.number = header[0];
  unit.complement = header[1];
  const std::size_t length = header[2] | (header[3] << 8);
  if (!read_bytes(next_byte, unit, length, &unit.payload)) return unit;
  Bytes checksum;
  if (!read_bytes(next_byte, unit, 2, &checksum)) return unit;
  unit.sent_checksum = static_cast<std::uint16_t>(checksum[0] | (checksum[1] << 8));
  unit.kind = UnitKind::packet;
  return unit;
}

HostUnit unit_of_frame(const Bytes& payload) {
  std::size_t position = 0;
  HostUnit unit;
  if (!payload.empty()) {
    unit = read_host_unit([&](bool) -> std::optional<std::uint8_t> {
      if (position < payload.size()) return payload[position++];
      return std::nullopt;
    });
  }
  if (payload.empty() || position < payload.size()) {
    unit = HostUnit{};
    unit.kind = UnitKind::garbled;
    unit.raw = payload;
  }
  return unit;
}

std::string control_name(std::uint8_t byte) {
  switch (byte) {
    case SOH: return "SOH";
    case EOT: return "EOT";
    case ENQ: return "ENQ";
    case ACK: return "ACK";
    case NAK: return "NAK";
    case CAN: return "CAN";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "byte 0x%02X", byte);
      return text;
    }
  }
}

namespace {

// Digits by hand: a simulator traces millions of units, and a formatted
// print per byte would cost more than the rest of the trace.
constexpr char hex_digits[] = "0123456789ABCDEF";

void append_hex(std::string& text, std::uint8_t byte) {
  text += hex_digits[byte >> 4];
  text += hex_digits[byte & 0x0F];
}

}  // namespace

std::string quote_payload(const Bytes& payload) {
  std::string text = "\"";
  text.reserve(payload.size() + 2);
  for (std::uint8_t byte : payload) {
    if (byte == '"' || byte == '\\') {
      text += '\\';
      text += static_cast<char>(byte);
    } else if (byte >= 0x20 && byte < 0x7F) {
      text += static_cast<char>(byte);
    } else {
      text += "\\x";
      append_hex(text, byte);
    }
  }
  return text + "\"";
}

std::string hex_bytes(const Bytes& bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (std::uint8_t byte : bytes) {
    if (!text.empty()) text += ' ';
    append_hex(text, byte);
  }
  return text;
}

std::string describe_host_unit(const HostUnit& unit) {
  switch (unit.kind) {
    case UnitKind::control:
      return control_name(unit.control);
    case UnitKind::truncated:
      return "truncated packet (" + std::to_string(unit.raw.size()) + " bytes)";
    case UnitKind::garbled:
      return "garbled unit (" + std::to_string(unit.raw.size()) + " bytes)";
    case UnitKind::packet:
      break;
  }
  std::string text = "packet " + std::to_string(unit.number) + " " + quote_payload(unit.payload);
  if (!unit.complement_ok()) text += " (bad complement)";
  if (!unit.checksum_ok()) text += " (bad checksum)";
  return text;
}

Bytes bytes_of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace qvemu
