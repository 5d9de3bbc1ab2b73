// The optical relay handshake. The relay unit buffer (link_stream.h)
// collects one outgoing PC-link unit, or holds the payload of the last frame
// received, and the packet layer reads and writes it through link_read and
// link_write while relay_active is set; the hooks below send it and fill it.
//
// Three rules keep a damaged or dying line from hanging the host:
// - A frame we refuse is drained off the line (bytes discarded until a short
//   silence, at most relay_drain_limit of them) before we answer, so that no byte
//   of it is taken for the start of a block; a frame whose bytes stop coming
//   is abandoned at its first time-out.
// - An exchange the device takes part in but that does not get a frame
//   through counts as a refusal; after refusal_limit of them in a row, which
//   a sane line never reaches, the line has failed ("TimeOut"). An exchange
//   met by silence is retried for as long as a cable waits for a byte, and
//   then the line has failed too: a device that took a damaged frame for a
//   sound one may wait for a unit that never comes while we wait for its
//   answer.
// - A transfer that fails outright (the port is gone) ends the run at once
//   with "TimeOut", as on a cable; a time-out never does.
#include "pclink/relay.h"

#include <cstring>

#include "pclink/console.h"
#include "pclink/line_doubts.h"
#include "pclink/link_stream.h"
#include "pclink/platform/console.h"
#include "pclink/progress.h"
#include "pclink/relay_framing.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"

namespace {

constexpr int relay_grant_timeout = 40;  // for the frame after our SYN block

// Exchanges in a row that the device answers without getting a frame
// through. At a damaged frame in four, 16 in a row has odds of 1 in 4
// billion; and as each takes up to a few seconds, the run still ends within
// a minute or so once the line can no longer carry a frame.
constexpr int refusal_limit = 16;

// How long an exchange may meet only silence: as long as a cable waits for
// the device's byte.
constexpr std::int64_t relay_silence_limit_ms = pclink_byte_timeout * 10;

// Ends the run when the exchange that began at started_ms has met silence
// for longer than a live device ever keeps us waiting.
void check_silence(std::int64_t started_ms) {
  if (platform::monotonic_milliseconds() - started_ms > relay_silence_limit_ms) {
    timeout_exit();
  }
}

// Ticks of 6 ms between the sender's ENQ block and our SYN block: the
// adapter needs about 18 ms to turn the optical link around.
constexpr int relay_turnaround_ticks = 3;

// A frame the device sent while we were announcing one of ours, kept for
// our next receive (see relay_send_frame).
std::uint8_t early_frame[relay_buffer_size];
int early_frame_length = 0;
bool early_frame_kept = false;

// Counts one more exchange in a row that the device answered without a
// frame getting through; ends the run when a live device and we can no
// longer agree.
void count_refusal(int& refusals) {
  note_retry();
  if (++refusals >= refusal_limit) {
    timeout_exit();
  }
}

// Grants a frame the device has just announced with its ENQ block, reads it
// and answers it: the ACK block for a good frame, the NAK block for a
// damaged or overlong one, nothing for a frame of another kind or number
// (the sender then starts again after its time-out).
Grant serve_announced_frame(std::uint8_t* buffer, int capacity, int expected, int& length) {
  delay_ticks(relay_turnaround_ticks);
  send_relay_control(relay_syn);
  if (!find_block_start(relay_grant_timeout, shortest_frame_received)) {
    return Grant::unanswered;
  }
  Grant grant = read_frame(buffer, capacity, expected, length);
  if (grant != Grant::taken) {
    drain_refused_frame();
  }
  switch (grant) {
    case Grant::taken:
      send_relay_control_with_next(relay_ack);
      break;
    case Grant::wrong_kind:
      print_message(msg("relay_format_error"));
      break;
    case Grant::wrong_number:
      print_message(msg("packet_number_error"));
      break;
    case Grant::too_long:
      print_message(msg("relay_frame_too_long"));
      send_relay_control(relay_nak);
      break;
    case Grant::damaged:
      note_damaged_arrival();
      print_message(msg("relay_checksum_error"));
      send_relay_control(relay_nak);
      break;
    case Grant::unanswered:
      break;
  }
  return grant;
}

}  // namespace

void begin_receive() {
  if (!relay_active) {
    return;
  }
  int length = 0;
  if (early_frame_kept) {
    std::memcpy(relay_unit_buffer(), early_frame, static_cast<std::size_t>(early_frame_length));
    length = early_frame_length;
    early_frame_kept = false;
  } else {
    length = relay_recv_frame(relay_unit_buffer(), relay_buffer_size, relay_any_frame_number);
  }
  relay_unit_received(length);
}

void begin_send() {
  start_relay_unit();
}

void end_send() {
  if (relay_active) {
    relay_send_frame(relay_unit_length(), relay_any_frame_number, relay_unit_buffer());
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
  const std::int64_t started_ms = platform::monotonic_milliseconds();
  for (;;) {
    send_relay_control(relay_enq);
    int answer = recv_relay_control();
    // An exchange the device answered in any way without our frame
    // getting through counts as a refusal; silence is bounded in time.
    const bool answered = answer != -1;
    if (answer == relay_syn) {
      send_frame_body(n, number, payload);
      sent_whole = true;
      answer = recv_relay_control();
      if (answer == relay_ack) {
        return 1;
      }
      // Unless the device refused the frame, it may have taken it: what it
      // makes of the frame sent again is its own.
      if (answer != relay_nak) {
        note_line_doubt();
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
    } else {
      check_silence(started_ms);
    }
  }
}

int relay_recv_frame(std::uint8_t* buffer, int capacity, int expected) {
  int refusals = 0;
  const std::int64_t started_ms = platform::monotonic_milliseconds();
  for (;;) {
    int code = recv_relay_control();
    if (code == -1) {
      check_silence(started_ms);
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
  reset_link_stream();
  early_frame_kept = false;
}
