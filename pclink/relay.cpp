// Optical relay framing. The relay buffer collects one outgoing PC-link unit,
// or holds the payload of the last frame received, and the packet layer
// reads and writes it through link_read and link_write while relay_active is
// set.
#include "pclink/relay.h"

#include <cstring>

#include "pclink/serial_port.h"

namespace {

constexpr int relay_buffer_size = 4096;

std::uint8_t relay_buffer[relay_buffer_size];
int relay_position = 0;

}  // namespace

void begin_receive() {}

void begin_send() {
  relay_position = 0;
}

void end_send() {}

void relay_read(int n, std::uint8_t* destination) {
  for (int i = 0; i < n; ++i) {
    destination[i] = relay_position < relay_buffer_size ? relay_buffer[relay_position++] : 0xFF;
  }
}

void relay_write(int n, const std::uint8_t* source) {
  for (int i = 0; i < n && relay_position < relay_buffer_size; ++i) {
    relay_buffer[relay_position++] = source[i];
  }
}
