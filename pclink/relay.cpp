// Optical relay framing. The relay buffer collects one outgoing PC-link unit,
// or holds the payload of the last frame received, and the packet layer
// reads and writes it through link_read and link_write while relay_active is
// set. Blocks go to and from the line with send_raw and recv_raw, so echo
// suppression applies to them as to any other bytes.
#include "pclink/relay.h"

#include "pclink/console.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"

namespace {

// Time-outs in hundredths of a second.
constexpr int relay_byte_timeout = 100;   // every byte sent, and frame contents
constexpr int relay_hunt_timeout = 50;    // looking for a block, and frame header bytes
constexpr int relay_grant_timeout = 40;   // for the frame after our SYN block

// Ticks of 6 ms between the sender's ENQ block and our SYN block: the
// adapter needs about 18 ms to turn the optical link around.
constexpr int relay_turnaround_ticks = 3;

constexpr std::uint8_t block_mark = 0x96;
constexpr std::uint8_t control_block_kind = 0x82;
constexpr std::uint8_t data_frame_kind = 0x81;
constexpr int sync_length = 5;
// The frame bytes between the kind and the frame number, and between the
// frame number and the length; their values are not looked at on receipt.
constexpr std::uint8_t frame_fixed_byte = 0x10;
constexpr std::uint8_t frame_fixed_triple[3] = {0x01, 0x40, 0xFE};

std::uint8_t relay_buffer[relay_buffer_size];
int relay_position = 0;
int relay_frame_length = 0;  // payload length of the frame received last
bool frame_overrun = false;

void send_byte(std::uint8_t byte) {
  send_raw(relay_byte_timeout, byte);
}

void send_word(int value) {
  send_byte(static_cast<std::uint8_t>(value & 0xFF));
  send_byte(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void send_block_start(std::uint8_t kind) {
  for (int i = 0; i < sync_length; ++i) {
    send_byte(0x00);
  }
  send_byte(block_mark);
  send_byte(kind);
}

// Reads up to the mark of the next block: a run of at least two zero bytes,
// then 0x96. Up to three of the five zero bytes sent may be lost on the way.
// Each byte before a run is awaited for first_timeout; a silence there gives
// false.
bool find_block_start(int first_timeout) {
  for (;;) {
    int byte = recv_raw(first_timeout);
    if (link_failed) {
      return false;
    }
    if (byte != 0x00) {
      continue;
    }
    int zeros = 1;
    // A failed read in the run reads as -1 and ends it.
    while ((byte = recv_raw(relay_hunt_timeout)) == 0x00) {
      ++zeros;
    }
    if (zeros >= 2 && byte == block_mark) {
      return true;
    }
  }
}

// Reads n frame bytes into buffer; a failed read gives 0xFF.
void recv_frame_bytes(int timeout, int n, std::uint8_t* buffer) {
  for (int i = 0; i < n; ++i) {
    buffer[i] = static_cast<std::uint8_t>(recv_raw(timeout) & 0xFF);
  }
}

}  // namespace

void begin_receive() {
  if (!relay_active) {
    return;
  }
  relay_frame_length = relay_recv_frame(relay_buffer, relay_buffer_size, relay_any_frame_number);
  relay_position = 0;
  frame_overrun = false;
}

void begin_send() {
  relay_position = 0;
}

void end_send() {
  if (relay_active) {
    relay_send_frame(relay_position, relay_any_frame_number, relay_buffer);
  }
}

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

bool relay_frame_overrun() {
  return relay_active && frame_overrun;
}

void send_relay_control(std::uint8_t code) {
  send_block_start(control_block_kind);
  send_byte(code);
}

int recv_relay_control() {
  for (;;) {
    if (!find_block_start(relay_hunt_timeout)) {
      return -1;
    }
    // A data frame met here is passed over: the hunt goes on through it.
    if (recv_raw(relay_hunt_timeout) == control_block_kind) {
      return recv_raw(relay_hunt_timeout);
    }
  }
}

int relay_send_frame(int n, int number, const std::uint8_t* payload) {
  for (;;) {
    send_relay_control(relay_enq);
    if (recv_relay_control() != relay_syn) {
      continue;
    }
    send_block_start(data_frame_kind);
    send_byte(frame_fixed_byte);
    send_word(number);
    for (std::uint8_t byte : frame_fixed_triple) {
      send_byte(byte);
    }
    send_word(n);
    for (int i = 0; i < n; ++i) {
      send_byte(payload[i]);
    }
    send_word(checksum16(n, payload));
    if (recv_relay_control() == relay_ack) {
      return 1;
    }
  }
}

int relay_recv_frame(std::uint8_t* buffer, int capacity, int expected) {
  for (;;) {
    while (recv_relay_control() != relay_enq) {
    }
    delay_ticks(relay_turnaround_ticks);
    send_relay_control(relay_syn);
    if (!find_block_start(relay_grant_timeout)) {
      continue;
    }
    // From here on a failed read gives 0xFF and the frame normally fails
    // its checksum.
    if (recv_raw(relay_hunt_timeout) != data_frame_kind) {
      print_line("Packet format error", "");
      continue;
    }
    recv_raw(relay_hunt_timeout);
    int number = relay_recv_word();
    if (number != relay_any_frame_number && number != (expected & 0xFFFF)) {
      print_line("packet number error", "");
      continue;
    }
    std::uint8_t ignored[3];
    recv_frame_bytes(relay_hunt_timeout, 3, ignored);
    int length = relay_recv_word();
    if (length > capacity) {
      // Refused at once, before its payload: a damaged length field would
      // otherwise keep us reading for minutes. The sender starts again.
      print_line("opt frame too long", "");
      send_relay_control(relay_nak);
      continue;
    }
    recv_frame_bytes(relay_byte_timeout, length, buffer);
    if (relay_recv_word() != checksum16(length, buffer)) {
      print_line("opt check sum error", "");
      send_relay_control(relay_nak);
      continue;
    }
    send_relay_control(relay_ack);
    return length;
  }
}

int relay_recv_word() {
  int low = recv_raw(relay_byte_timeout) & 0xFF;
  int high = recv_raw(relay_byte_timeout) & 0xFF;
  return low + 256 * high;
}
