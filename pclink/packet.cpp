// Packets and control bytes on the PC-link stream.
#include "pclink/packet.h"

#include "pclink/console.h"
#include "pclink/relay.h"
#include "pclink/serial_port.h"

std::uint16_t checksum16(int n, const std::uint8_t* bytes) {
  std::uint16_t sum = 0;
  for (int i = 0; i < n; ++i) {
    sum = static_cast<std::uint16_t>(sum + bytes[i]);
  }
  return sum;
}

int recv_byte() {
  begin_receive();
  std::uint8_t byte = 0;
  link_read(1, &byte);
  return byte;
}

int recv_word() {
  std::uint8_t bytes[2] = {0, 0};
  link_read(2, bytes);
  return bytes[0] + 256 * bytes[1];
}

void send_control(std::uint8_t control) {
  begin_send();
  link_write(1, &control);
  end_send();
}

void wait_for(std::uint8_t b) {
  for (;;) {
    int byte = recv_byte();
    if (byte == b || byte == CAN) {
      return;
    }
  }
}

int recv_packet(std::uint8_t* buffer, int capacity, int number) {
  begin_receive();
  std::uint8_t start = 0;
  link_read(1, &start);
  if (start == EOT) {
    return recv_eot;
  }
  if (start != SOH) {
    print_line("packet format error", "");
    return recv_bad_packet;
  }
  std::uint8_t numbering[2] = {0, 0};
  link_read(2, numbering);
  std::uint8_t expected = static_cast<std::uint8_t>(number);
  if (numbering[0] != expected || numbering[1] != static_cast<std::uint8_t>(~expected)) {
    print_line("packet number error", "");
    return recv_bad_packet;
  }
  int length = recv_word();
  // A payload longer than the buffer is still read whole, so the stream
  // stays in step with the device, but only what fits is kept.
  std::uint16_t sum = 0;
  for (int i = 0; i < length; ++i) {
    std::uint8_t byte = 0;
    link_read(1, &byte);
    sum = static_cast<std::uint16_t>(sum + byte);
    if (i < capacity) {
      buffer[i] = byte;
    }
  }
  // In link mode 2 a packet that runs past the end of its relay frame was
  // cut short; what follows it in the buffer is not the device's.
  if (recv_word() != sum || relay_frame_overrun()) {
    print_line("p-check sum error", "");
    return recv_bad_packet;
  }
  if (length > capacity) {
    print_line("packet too long", "");
    return recv_too_long;
  }
  return length;
}

int send_packet(int n, int number, const std::uint8_t* payload) {
  begin_send();
  std::uint8_t number_byte = static_cast<std::uint8_t>(number);
  std::uint8_t header[5] = {SOH, number_byte, static_cast<std::uint8_t>(~number_byte),
                            static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>((n >> 8) & 0xFF)};
  link_write(5, header);
  link_write(n, payload);
  std::uint16_t sum = checksum16(n, payload);
  std::uint8_t trailer[2] = {static_cast<std::uint8_t>(sum & 0xFF), static_cast<std::uint8_t>(sum >> 8)};
  link_write(2, trailer);
  end_send();
  return 1;
}
