// The PC-link byte stream over the cable or the relay unit buffer.
#include "pclink/link_stream.h"

#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"

bool link_failed = false;

namespace {

std::uint8_t relay_buffer[relay_buffer_size];
int relay_position = 0;
int relay_frame_length = 0;  // payload length of the frame received last
bool frame_overrun = false;

void relay_read(int n, std::uint8_t* destination) {
  for (int i = 0; i < n; ++i) {
    // Bytes beyond the frame would be left from an earlier, longer frame.
    if (relay_position < relay_frame_length) {
      destination[i] = relay_buffer[relay_position++];
    } else {
      destination[i] = 0xFF;
      frame_overrun = true;
    }
  }
}

void relay_write(int n, const std::uint8_t* source) {
  // Outgoing units are at most a Packet with a 256-byte payload, far below
  // the buffer's size; anything beyond it is dropped rather than overrun.
  for (int i = 0; i < n && relay_position < relay_buffer_size; ++i) {
    relay_buffer[relay_position++] = source[i];
  }
}

// On a cable a byte that failed or timed out ends the run at the next
// transfer: the device is gone, or the line no longer carries bytes.
void end_if_line_failed() {
  if (link_failed) {
    timeout_exit();
  }
}

}  // namespace

void link_read(int n, std::uint8_t* destination) {
  if (relay_active) {
    relay_read(n, destination);
    return;
  }
  for (int i = 0; i < n; ++i) {
    end_if_line_failed();
    const int byte = recv_raw(pclink_byte_timeout);
    link_failed = byte < 0;
    destination[i] = static_cast<std::uint8_t>(byte & 0xFF);
  }
}

bool take_link_silence() {
  if (!link_failed || port_failed) return false;
  link_failed = false;
  return true;
}

int link_read_in_unit(int n, std::uint8_t* destination) {
  if (relay_active) {
    relay_read(n, destination);
    return n;
  }
  end_if_line_failed();
  const int count = recv_unit(destination, n);
  link_failed = port_failed;
  return count;
}

void link_expect_in_unit(int n) {
  if (!relay_active && !link_failed) {
    recv_ahead(n);
  }
}

void link_write(int n, const std::uint8_t* source) {
  if (relay_active) {
    relay_write(n, source);
    return;
  }
  end_if_line_failed();
  link_failed = !send_unit(source, n, pclink_byte_timeout);
}

std::uint8_t* relay_unit_buffer() {
  return relay_buffer;
}

void start_relay_unit() {
  relay_position = 0;
}

int relay_unit_length() {
  return relay_position;
}

void relay_unit_received(int length) {
  relay_frame_length = length;
  relay_position = 0;
  frame_overrun = false;
}

bool relay_frame_overrun() {
  return relay_active && frame_overrun;
}

void reset_link_stream() {
  link_failed = false;
  relay_position = 0;
  relay_frame_length = 0;
  frame_overrun = false;
}
