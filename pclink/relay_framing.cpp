// Optical relay block formats: blocks sent, and blocks found and read.
#include "pclink/relay_framing.h"

#include "pclink/checksum16.h"
#include "pclink/link_stream.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"

namespace {

// Time-outs in hundredths of a second.
constexpr int relay_byte_timeout = 100;   // every block sent
// A frame's length, payload and checksum follow its header without a pause.
// A sender that hears no answer announces again after half a second, so a
// longer wait inside the payload would take its new ENQ blocks for the
// bytes a damaged length field promised, and read on for minutes.
constexpr int relay_frame_gap_timeout = 30;

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
// A frame's bytes after its mark and kind, up to its payload: the fixed
// byte, the number, the fixed triple and the length.
constexpr int frame_header_rest = 8;
// The bytes a block takes besides a frame's payload: sync, mark, kind, the
// header's rest and the checksum.
constexpr int frame_overhead = sync_length + 2 + frame_header_rest + 2;
// Of the five sync zeros sent, two at least arrive.
constexpr int sync_zeros_lost_at_most = 3;
// The fewest bytes a control block arrives in.
constexpr int shortest_control_block_received = sync_length - sync_zeros_lost_at_most + 3;
static_assert(shortest_frame_received == frame_overhead - sync_zeros_lost_at_most + 1);

// Set once a byte of the frame being read failed to come: the rest of the
// frame is not read, and reads as 0xFF.
bool frame_cut = false;

// Every byte of the framing moves through these two: a port that fails
// outright ends the run here, before the framing could retry it at full
// speed.
int recv_line_byte(int timeout, int unit_length = 0) {
  int byte = recv_raw(timeout, unit_length);
  if (port_failed) {
    timeout_exit();
  }
  return byte;
}

// A block put together to go out in one write: on a USB adapter every
// write can become a transfer of its own.
struct Block {
  std::uint8_t bytes[frame_overhead + relay_buffer_size];
  int length = 0;

  void put(std::uint8_t byte) { bytes[length++] = byte; }
  void put_word(int value) {
    put(static_cast<std::uint8_t>(value & 0xFF));
    put(static_cast<std::uint8_t>((value >> 8) & 0xFF));
  }
  void put_start(std::uint8_t kind) {
    for (int i = 0; i < sync_length; ++i) {
      put(0x00);
    }
    put(block_mark);
    put(kind);
  }
};

Block block;

void send_block() {
  send_unit(block.bytes, block.length, relay_byte_timeout);
  block.length = 0;
  if (port_failed) {
    timeout_exit();
  }
}

}  // namespace

bool find_block_start(int first_timeout, int block_length) {
  // A line that babbles, or sends nothing but zeros, never shows a block:
  // the hunt ends as a silence would, once it has passed over more than
  // a device sends between two blocks.
  for (int hunted = 0; hunted < relay_drain_limit;) {
    int byte = recv_line_byte(first_timeout, hunted == 0 ? block_length : 0);
    ++hunted;
    if (byte < 0) {
      return false;
    }
    if (byte != 0x00) {
      continue;
    }
    // The rest of the sync, the mark, the kind and at least a byte more
    // follow at once: fetched together rather than a byte at a time.
    recv_ahead(sync_length + 2);
    int zeros = 1;
    // A failed read in the run reads as -1 and ends it.
    while (hunted < relay_drain_limit && (byte = recv_line_byte(relay_hunt_timeout)) == 0x00) {
      ++zeros;
      ++hunted;
    }
    if (zeros >= 2 && byte == block_mark) {
      return true;
    }
  }
  return false;
}

namespace {

// One byte of the frame being read, 0xFF once the frame is cut.
int frame_byte(int timeout) {
  if (frame_cut) {
    return 0xFF;
  }
  int byte = recv_line_byte(timeout);
  if (byte < 0) {
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
  discard_until_silence(relay_drain_limit);
  if (port_failed) {
    timeout_exit();
  }
}

Grant read_frame(std::uint8_t* buffer, int capacity, int expected, int& length) {
  frame_cut = false;
  received_damage();  // forgets damage before the frame
  int kind = frame_byte(relay_hunt_timeout);
  if (frame_cut) {
    return Grant::damaged;
  }
  if (kind != data_frame_kind) {
    return Grant::wrong_kind;
  }
  recv_ahead(frame_header_rest);
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
  // Every unit is at least one byte. An empty frame is a damaged one whose
  // length and sum both read as zeros (zero bytes inserted into a frame
  // make just that): taken, it would swallow the unit it stood in for.
  if (length == 0) {
    return Grant::damaged;
  }
  recv_ahead(length + 2);
  for (int i = 0; i < length && !frame_cut; ++i) {
    buffer[i] = static_cast<std::uint8_t>(frame_byte(relay_frame_gap_timeout));
  }
  int checksum = relay_recv_word();
  // A byte that came with a parity or framing error makes the frame damaged
  // even when its sum happens to hold.
  if (frame_cut || checksum != checksum16(length, buffer) || received_damage()) {
    return Grant::damaged;
  }
  return Grant::taken;
}

void send_frame_body(int n, int number, const std::uint8_t* payload) {
  block.put_start(data_frame_kind);
  block.put(frame_fixed_byte);
  block.put_word(number);
  for (std::uint8_t byte : frame_fixed_triple) {
    block.put(byte);
  }
  block.put_word(n);
  for (int i = 0; i < n; ++i) {
    block.put(payload[i]);
  }
  block.put_word(checksum16(n, payload));
  send_block();
}

void send_relay_control(std::uint8_t code) {
  block.put_start(control_block_kind);
  block.put(code);
  send_block();
}

void send_relay_control_with_next(std::uint8_t code) {
  block.put_start(control_block_kind);
  block.put(code);
  send_unit_with_next(block.bytes, block.length, relay_byte_timeout);
  block.length = 0;
}

int recv_relay_control() {
  for (;;) {
    if (!find_block_start(relay_hunt_timeout, shortest_control_block_received)) {
      return -1;
    }
    // A data frame met here is passed over: the hunt goes on through it.
    received_damage();
    if (recv_line_byte(relay_hunt_timeout) == control_block_kind) {
      const int code = recv_line_byte(relay_hunt_timeout);
      // A code that came with a parity error is no code: the block is
      // passed over like a frame.
      if (!received_damage()) {
        return code;
      }
    }
  }
}

