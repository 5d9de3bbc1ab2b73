// Optical relay framing. The relay buffer collects one outgoing PC-link unit,
// or holds the payload of the last frame received, and the packet layer
// reads and writes it through link_read and link_write while relay_active is
// set. Blocks go to and from the line with send_raw and recv_raw, so echo
// suppression applies to them as to any other bytes.
//
// Three rules keep a damaged or dying line from hanging the host:
// - A frame we refuse is drained off the line (bytes discarded until a short
//   silence, at most relay_drain_limit of them) before we answer, so that no byte
//   of it is taken for the start of a block; a frame whose bytes stop coming
//   is abandoned at its first time-out.
// - An exchange the device takes part in but that does not get a frame
//   through counts as a refusal; after refusal_limit of them in a row, which
//   a sane line never reaches, the line has failed ("TimeOut"). An exchange
//   met by silence alone is retried without limit.
// - A transfer that fails outright (the port is gone) ends the run at once
//   with "TimeOut", as on a cable; a time-out never does.
#include "pclink/relay.h"

#include <cstring>

#include "pclink/console.h"
#include "pclink/packet.h"
#include "pclink/progress.h"
#include "pclink/serial_port.h"

namespace {

// Time-outs in hundredths of a second.
constexpr int relay_byte_timeout = 100;   // every byte sent
// A frame's length, payload and checksum follow its header without a pause.
// A sender that hears no answer announces again after half a second, so a
// longer wait inside the payload would take its new ENQ blocks for the
// bytes a damaged length field promised, and read on for minutes.
constexpr int relay_frame_gap_timeout = 30;
constexpr int relay_hunt_timeout = 50;    // looking for a block, and frame header bytes
constexpr int relay_grant_timeout = 40;   // for the frame after our SYN block
// A frame's bytes follow one another without a pause; this much silence
// means the sender has finished and waits for our answer, which it expects
// within half a second.
constexpr int relay_drain_silence = 10;

// More than the longest frame we take, so a damaged frame is drained whole;
// on a line that babbles without a pause the drain still ends, after about
// 9 s at 9600 baud.
constexpr int relay_drain_limit = 2 * relay_buffer_size;

// Exchanges in a row that the device answers without getting a frame
// through. At a damaged frame in four, 16 in a row has odds of 1 in 4
// billion; and as each takes up to a few seconds, the run still ends within
// a minute or so once the line can no longer carry a frame.
constexpr int refusal_limit = 16;

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

// A frame the device sent while we were announcing one of ours, kept for
// our next receive (see relay_send_frame).
std::uint8_t early_frame[relay_buffer_size];
int early_frame_length = 0;
bool early_frame_kept = false;

// Set once a byte of the frame being read failed to come: the rest of the
// frame is not read, and reads as 0xFF.
bool frame_cut = false;

// What became of a device's announcement that we granted.
enum class Grant { taken, unanswered, wrong_kind, wrong_number, too_long, damaged };

// Counts one more exchange in a row that the device answered without a
// frame getting through; ends the run when a live device and we can no
// longer agree.
void count_refusal(int& refusals) {
  note_retry();
  if (++refusals >= refusal_limit) {
    timeout_exit();
  }
}

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

// Reads up to the mark of the next block: a run of at least two zero bytes,
// then 0x96. Up to three of the five zero bytes sent may be lost on the way.
// Each byte before a run is awaited for first_timeout; a silence there gives
// false.
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

// Discards what is left of a refused frame, so that none of its bytes can be
// read as the start of a block.
void drain_refused_frame() {
  for (int i = 0; i < relay_drain_limit; ++i) {
    recv_line_byte(relay_drain_silence);
    if (link_failed) {
      return;
    }
  }
}

// Reads the frame after its mark into buffer (capacity bytes).
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

// Grants a frame the device has just announced with its ENQ block, reads it
// and answers it: the ACK block for a good frame, the NAK block for a
// damaged or overlong one, nothing for a frame of another kind or number
// (the sender then starts again after its time-out).
Grant serve_announced_frame(std::uint8_t* buffer, int capacity, int expected, int& length) {
  delay_ticks(relay_turnaround_ticks);
  send_relay_control(relay_syn);
  if (!find_block_start(relay_grant_timeout)) {
    return Grant::unanswered;
  }
  Grant grant = read_frame(buffer, capacity, expected, length);
  if (grant != Grant::taken) {
    drain_refused_frame();
  }
  switch (grant) {
    case Grant::taken:
      send_relay_control(relay_ack);
      break;
    case Grant::wrong_kind:
      print_line("Packet format error", "");
      break;
    case Grant::wrong_number:
      print_line("packet number error", "");
      break;
    case Grant::too_long:
      print_line("opt frame too long", "");
      send_relay_control(relay_nak);
      break;
    case Grant::damaged:
      print_line("opt check sum error", "");
      send_relay_control(relay_nak);
      break;
    case Grant::unanswered:
      break;
  }
  return grant;
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

}  // namespace

void begin_receive() {
  if (!relay_active) {
    return;
  }
  if (early_frame_kept) {
    std::memcpy(relay_buffer, early_frame, static_cast<std::size_t>(early_frame_length));
    relay_frame_length = early_frame_length;
    early_frame_kept = false;
  } else {
    relay_frame_length = relay_recv_frame(relay_buffer, relay_buffer_size, relay_any_frame_number);
  }
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
    if (recv_line_byte(relay_hunt_timeout) == control_block_kind) {
      return recv_line_byte(relay_hunt_timeout);
    }
  }
}

// Both sides may announce at once: the device's ENQ block then meets ours,
// and were each side to answer the other's ENQ with its own, neither would
// ever send. We give way: the device's frame is granted and taken. The
// device sends a unit only in answer to one of ours, so which frame it is
// follows from whether ours has gone out yet:
// - our frame has gone out whole at least once: the device took it (its ACK
//   block was lost) and announces its answer. That answer is kept for our
//   next receive, and our frame is not sent again, since the device would
//   take it twice.
// - our frame has not gone out: the device did not hear our ACK block for
//   its last frame and sends that frame again. It is taken and dropped, and
//   we announce ours again.
int relay_send_frame(int n, int number, const std::uint8_t* payload) {
  int refusals = 0;
  bool sent_whole = false;
  for (;;) {
    send_relay_control(relay_enq);
    int answer = recv_relay_control();
    // Silence keeps the retries without limit; an exchange the device
    // answered in any way without our frame getting through counts.
    const bool answered = answer != -1;
    if (answer == relay_syn) {
      send_frame_body(n, number, payload);
      sent_whole = true;
      answer = recv_relay_control();
      if (answer == relay_ack) {
        return 1;
      }
    }
    if (answer == relay_enq) {
      Grant grant = serve_announced_frame(early_frame, relay_buffer_size, relay_any_frame_number, early_frame_length);
      if (grant == Grant::taken && sent_whole) {
        early_frame_kept = true;
        return 1;
      }
    }
    if (answered) {
      count_refusal(refusals);
    }
  }
}

int relay_recv_frame(std::uint8_t* buffer, int capacity, int expected) {
  int refusals = 0;
  for (;;) {
    int code = recv_relay_control();
    if (code == -1) {
      continue;
    }
    int length = 0;
    if (code == relay_enq && serve_announced_frame(buffer, capacity, expected, length) == Grant::taken) {
      return length;
    }
    count_refusal(refusals);
  }
}

void reset_relay_state() {
  relay_position = 0;
  relay_frame_length = 0;
  frame_overrun = false;
  early_frame_kept = false;
  frame_cut = false;
}
