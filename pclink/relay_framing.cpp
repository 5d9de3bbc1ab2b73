// Optical relay block formats: blocks sent, and blocks found and read.
#include "pclink/relay_framing.h"

#include "pclink/checksum16.h"
#include "pclink/link_stream.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"

namespace {

// Time-outs in hundredths of a second.
constexpr int relay_byte_timeout = 100;   // every byte sent
// A frame's length, payload and checksum follow its header without a pause.
// A sender that hears no answer announces again after half a second, so a
// longer wait inside the payload would take its new ENQ blocks for the
// bytes a damaged length field promised, and read on for minutes.
constexpr int relay_frame_gap_timeout = 30;
// A frame's bytes follow one another without a pause; this much silence
// means the sender has finished and waits for our answer, which it expects
// within half a second.
constexpr int relay_drain_silence = 10;

// More than the longest frame we take, so a damaged frame is drained whole;
// on a line that babbles without a pause the drain still ends, after about
// 9 s at 9600 baud.
constexpr int relay_drain_limit = 2 * relay_buffer_size;

constexpr std::uint8_t block_mark = 0x96;
constexpr std::uint8_t control_block_kind = 0x82;
constexpr std::uint8_t data_frame_kind = 0x81;
constexpr int sync_length = 5;
// The frame bytes between the kind and the frame number, and between the
// frame number and the length; their values are not looked at on receipt.
constexpr std::uint8_t frame_fixed_byte = 0x10;
constexpr std::uint8_t frame_fixed_triple[3] = {0x01, 0x40, 0xFE};

// Set once a byte of the frame being read failed to come: the rest of the
// frame is not read, and reads as 0xFF.
bool frame_cut = false;

// Every byte of the framing moves through these two: a port that fails
// outright ends the run here, before the framing could retry it at full
// speed.
int recv_line_byte(int timeout) {
  int byte = recv_raw(timeout);
  if (port_error) {
    timeout_exit();
  }
  return byte;
}

void send_byte(std::uint8_t byte) {
  send_raw(relay_byte_timeout, byte);
  if (port_error) {
    timeout_exit();
  }
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

}  // namespace

bool find_block_start(int first_timeout) {
  for (;;) {
    int byte = recv_line_byte(first_timeout);
    if (link_failed) {
      return false;
    }
    if (byte != 0x00) {
      continue;
    }
    int zeros = 1;
    // A failed read in the run reads as -1 and ends it.
    while ((byte = recv_line_byte(relay_hunt_timeout)) == 0x00) {
      ++zeros;
    }
    if (zeros >= 2 && byte == block_mark) {
      return true;
    }
  }
}

namespace {

// One byte of the frame being read, 0xFF once the frame is cut.
int frame_byte(int timeout) {
  if (frame_cut) {
    return 0xFF;
  }
  int byte = recv_line_byte(timeout);
  if (link_failed) {
    frame_cut = true;
    return 0xFF;
  }
  return byte;
}

// Two frame bytes, low byte first.
int relay_recv_word() {
  int low = frame_byte(relay_frame_gap_timeout) & 0xFF;
  int high = frame_byte(relay_frame_gap_timeout) & 0xFF;
  return low + 256 * high;
}

}  // namespace

void drain_refused_frame() {
  for (int i = 0; i < relay_drain_limit; ++i) {
    recv_line_byte(relay_drain_silence);
    if (link_failed) {
      return;
    }
  }
}

Grant read_frame(std::uint8_t* buffer, int capacity, int expected, int& length) {
  frame_cut = false;
  int kind = frame_byte(relay_hunt_timeout);
  if (frame_cut) {
    return Grant::damaged;
  }
  if (kind != data_frame_kind) {
    return Grant::wrong_kind;
  }
  frame_byte(relay_hunt_timeout);
  int number = relay_recv_word();
  if (frame_cut) {
    return Grant::damaged;
  }
  if (number != relay_any_frame_number && number != (expected & 0xFFFF)) {
    return Grant::wrong_number;
  }
  for (int i = 0; i < 3; ++i) {
    frame_byte(relay_hunt_timeout);
  }
  length = relay_recv_word();
  if (frame_cut) {
    return Grant::damaged;
  }
  // Refused before its payload: a damaged length field must not keep us
  // reading, nor overrun the buffer.
  if (length > capacity) {
    return Grant::too_long;
  }
  for (int i = 0; i < length && !frame_cut; ++i) {
    buffer[i] = static_cast<std::uint8_t>(frame_byte(relay_frame_gap_timeout));
  }
  int checksum = relay_recv_word();
  if (frame_cut || checksum != checksum16(length, buffer)) {
    return Grant::damaged;
  }
  return Grant::taken;
}

void send_frame_body(int n, int number, const std::uint8_t* payload) {
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
    if (recv_line_byte(relay_hunt_timeout) == control_block_kind) {
      return recv_line_byte(relay_hunt_timeout);
    }
  }
}

