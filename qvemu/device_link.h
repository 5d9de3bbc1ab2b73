// The device's view of the link: whole units in and out, each one traced,
// with the checks every received unit goes through and the silence fault
// (once silent, the device sends nothing more but still listens and traces).
#pragma once

#include <string>

#include "qvemu/packet_codec.h"
#include "qvemu/trace.h"
#include "qvemu/transport.h"

namespace qvemu {

class DeviceLink {
 public:
  // silent_after: the device falls silent after this many units (-1: never).
  DeviceLink(Transport& transport, Trace& trace, int silent_after)
      : transport_(transport), trace_(trace), silent_after_(silent_after) {}

  Trace& trace() { return trace_; }
  bool silent() const { return silent_; }

  // The host's next unit; never returns once the device has fallen silent.
  HostUnit receive();
  void send_control(std::uint8_t control);
  void send_packet(int number, const Bytes& payload, bool damaged = false);
  void fall_silent(const std::string& why);

  // Waits for the control byte; every other unit is reported as a violation
  // and passed over. context completes "expected ENQ ..." in the report.
  void expect_control(std::uint8_t control, const std::string& context);
  // Waits for the host's answer to a Packet: true for ACK, false for NAK;
  // every other unit is reported and passed over.
  bool acknowledged(const std::string& context);
  // Reports what is wrong with a Packet expected under the given number;
  // true when it is sound.
  bool check_packet(const HostUnit& unit, int number, const std::string& what);
  void report_unexpected(const HostUnit& unit, const std::string& expected);

 private:
  void send_unit(const Bytes& bytes, const std::string& decoded);

  Transport& transport_;
  Trace& trace_;
  int silent_after_;
  int units_sent_ = 0;
  bool silent_ = false;
};

}  // namespace qvemu
