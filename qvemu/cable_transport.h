// The plain cable: units are the bytes on the line, nothing around them.
#pragma once

#include "qvemu/line.h"
#include "qvemu/transport.h"

namespace qvemu {

// Inside a Packet each byte must follow within this time; a longer pause
// means the host stopped in the middle and the Packet is reported truncated.
constexpr int packet_byte_timeout_ms = 3000;

class CableTransport : public Transport {
 public:
  explicit CableTransport(Line& line) : line_(line) {}
  HostUnit receive_unit() override;
  void send_unit(const Bytes& bytes) override;

 private:
  Line& line_;
};

}  // namespace qvemu
