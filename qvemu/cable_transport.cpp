#include "qvemu/cable_transport.h"

namespace qvemu {

HostUnit CableTransport::receive_unit() {
  return read_host_unit([this](bool first_of_unit) {
    return line_.read_byte(first_of_unit ? -1 : packet_byte_timeout_ms);
  });
}

void CableTransport::send_unit(const Bytes& bytes) {
  line_.write(bytes);
}

}  // namespace qvemu
