#include "qvemu/device_link.h"

#include <cstdio>

namespace qvemu {

namespace {

std::string hex16(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

}  // namespace

// A silent device hears the host out without judging it: everything the
// host does from then on is its reaction to the silence, so no unit is
// handed to the device logic again.
HostUnit DeviceLink::receive() {
  for (;;) {
    HostUnit unit = transport_.receive_unit();
    trace_.host_unit(unit.raw, describe_host_unit(unit));
    if (!silent_) return unit;
  }
}

void DeviceLink::send_control(std::uint8_t control) {
  send_unit({control}, control_name(control));
}

void DeviceLink::send_packet(int number, const Bytes& payload, bool damaged) {
  std::string decoded = "packet " + std::to_string(number & 0xFF) + " " + quote_payload(payload);
  if (damaged) decoded += " (bad checksum)";
  send_unit(encode_packet(number, payload, damaged), decoded);
}

void DeviceLink::fall_silent(const std::string& why) {
  if (silent_) return;
  silent_ = true;
  trace_.event("fault: silent " + why);
}

void DeviceLink::send_unit(const Bytes& bytes, const std::string& decoded) {
  if (!silent_ && silent_after_ >= 0 && units_sent_ >= silent_after_) {
    fall_silent("after " + std::to_string(silent_after_) + " units");
  }
  if (silent_) return;
  ++units_sent_;
  trace_.device_unit(bytes, decoded);
  transport_.send_unit(bytes);
}

void DeviceLink::expect_control(std::uint8_t control, const std::string& context) {
  for (;;) {
    HostUnit unit = receive();
    if (unit.is_control(control)) return;
    report_unexpected(unit, control_name(control) + " " + context);
  }
}

bool DeviceLink::acknowledged(const std::string& context) {
  for (;;) {
    HostUnit unit = receive();
    if (unit.is_control(ACK) || unit.is_control(NAK)) return unit.is_control(ACK);
    report_unexpected(unit, "ACK or NAK " + context);
  }
}

void DeviceLink::report_unexpected(const HostUnit& unit, const std::string& expected) {
  trace_.violation("expected " + expected + ", got " + describe_host_unit(unit));
}

bool DeviceLink::check_packet(const HostUnit& unit, int number, const std::string& what) {
  if (unit.kind != UnitKind::packet) {
    report_unexpected(unit, what);
    return false;
  }
  bool sound = true;
  const auto expected = static_cast<std::uint8_t>(number & 0xFF);
  if (unit.number != expected) {
    trace_.violation(what + ": number " + std::to_string(unit.number) + ", expected " +
                     std::to_string(expected));
    sound = false;
  }
  if (!unit.complement_ok()) {
    trace_.violation(what + ": complement " + std::to_string(unit.complement) + " does not match number " +
                     std::to_string(unit.number));
    sound = false;
  }
  if (!unit.checksum_ok()) {
    trace_.violation(what + ": checksum " + hex16(unit.sent_checksum) + ", payload sums to " +
                     hex16(checksum16(unit.payload)));
    sound = false;
  }
  return sound;
}

}  // namespace qvemu
