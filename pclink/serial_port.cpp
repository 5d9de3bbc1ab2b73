// The port layer: units to and from the line through echo suppression, and
// the drain after a damaged unit, on top of the platform's port. Opening and
// closing it are port_opening.cpp's.
#include "pclink/serial_port.h"

#include <algorithm>

#include "pclink/echo.h"
#include "pclink/line_doubts.h"
#include "pclink/line_timing.h"
#include "pclink/line_watch.h"
#include "pclink/platform/console.h"
#include "pclink/platform/port.h"
#include "pclink/platform/process.h"
#include "pclink/serial_port_bytes.h"

namespace {

// Draining after a damaged unit: a line that never falls silent is left
// after this many bytes (and their time on the line), so that even a
// babbling line lets the caller go on.
constexpr int drain_byte_limit = 8192;

// The unit under way stopped coming (its gap or its time-out ran out): what
// is left of it is not waited for again. Set by the unit reads, cleared when
// the next unit begins: a wait for a first byte, or a unit sent.
bool unit_stopped = false;

// A byte handed on since received_damage last looked came damaged.
bool damage_handed_on = false;

// What became of the echo that recv_raw took last.
EchoTaken last_echo;

// The control byte we sent last, while it is the last unit sent; -1 after
// a longer unit, and so always through the relay, which sends blocks.
int last_control = -1;
// The last byte of the last unit sent, kept after its echo came.
int last_unit_end = -1;
// That control byte came back in its echo as another byte and the device
// stayed silent: see unheard_control.
bool control_unheard = false;

// Times a control byte that vanished on its way goes again for one wait.
constexpr int vanished_control_resends = 2;

// Whether the control byte just sent vanished on the line: not one byte of
// its echo came back, and no answer within a turnaround after that. The
// echo comes from the device's end, with what reached it, so the device
// never heard the byte and waits for it still.
bool control_vanished(const EchoTaken& taken) {
  return taken.none_came && last_control >= 0 && !port_failed &&
         fill_received(1, {unit_gap_ms(), 0}) == 0;
}

// Filler bytes went out after the last unit sent: see filler_ended_unit.
bool filler_sent = false;

// What ends a Packet that lost bytes on the way: a byte that is no control
// byte, nor one bit from one, so that the device, should it come after the
// Packet's end, passes over it as a stray.
constexpr std::uint8_t filler_byte = 0xFF;

// Sends count filler bytes after a Packet whose last bytes never reached
// the device (EchoTaken::stopped_short_by). Their echo is taken with the
// answer.
void send_filler(int count, int timeout) {
  std::uint8_t filler[vanished_bytes_limit];
  std::fill_n(filler, count, filler_byte);
  const std::int64_t sent_at = platform::monotonic_milliseconds();
  write_line(filler, count, timeout * 10 + line_time_ms(count));
  filler_sent = true;
  last_unit_end = filler_byte;
  if (echo_enabled) remember_sent(filler, count, sent_at);
}

}  // namespace

int recv_raw(int timeout, int unit_length) {
  const std::int64_t start = platform::monotonic_milliseconds();
  // After a Packet on a cable, an echo that stops a byte or two short
  // while the device stays silent means those bytes were lost on the way:
  // the echo comes from the device's end. The device would wait seconds for
  // them before it refused the Packet; filler bytes make up the count, and
  // it refuses the Packet at once, for their sum is not the one it checks
  // (filler_ended_unit).
  const bool after_packet = !relay_active && last_control < 0;
  EchoTaken taken = take_echo(timeout * 10, unit_length, after_packet);
  if (taken.stopped_short_by > 0 && !port_failed) {
    send_filler(taken.stopped_short_by, timeout);
    const std::int64_t left = timeout * 10 - (platform::monotonic_milliseconds() - start);
    taken = take_echo(static_cast<int>(std::max<std::int64_t>(left, 0)), unit_length);
  }
  for (int resends = 0; resends < vanished_control_resends && control_vanished(taken); ++resends) {
    // It goes again, rather than leave both sides waiting until "TimeOut";
    // the wait for the answer keeps its time-out from the first. A device
    // that heard it after all (a line stalled that long) gets it twice:
    // a doubt.
    const std::int64_t left = timeout * 10 - (platform::monotonic_milliseconds() - start);
    if (left <= echo_timeout_ms(1)) break;
    note_line_doubt();
    const std::uint8_t control = static_cast<std::uint8_t>(last_control);
    send_unit(&control, 1, timeout);
    taken = take_echo(static_cast<int>(left), unit_length);
  }
  last_echo = taken;
  if (received_count() == 0) {
    unit_stopped = false;
    const std::int64_t waited = platform::monotonic_milliseconds() - start;
    std::int64_t wait_ms = std::max<std::int64_t>(timeout * 10 - waited, 0);
    if (taken.in_place_of_last >= 0) {
      // The device answers at once after our unit: if nothing follows the
      // byte in the last echo byte's place within a turnaround, that byte
      // was the answer (the device took one byte less than we sent and
      // answered the unit it had), and it is handed on now, not after 10 s.
      wait_ms = std::min<std::int64_t>(wait_ms, unit_gap_ms());
    }
    fill_received(1, {static_cast<int>(wait_ms), 0});
  }
  int byte = -1;
  control_unheard = false;
  if (received_count() > 0) {
    byte = received_byte(0);
    damage_handed_on = take_received(1, nullptr) || damage_handed_on;
  } else if (taken.in_place_of_last >= 0 && !port_failed) {
    // The device stays silent after the echo: the byte that took the last
    // echo byte's place was the device's answer, and that echo byte was lost.
    // Or it was our own last byte, damaged: a guess, and a doubt.
    byte = taken.in_place_of_last;
    control_unheard = last_control >= 0;
    note_line_doubt();
  }
  if (byte >= 0) {
    note_device_byte();
  }
  return byte;
}

bool filler_ended_unit() {
  return filler_sent;
}

int unheard_control() {
  return control_unheard ? last_control : -1;
}

bool echo_place_held(std::uint8_t byte) {
  return !relay_active && last_echo.foreign.held(byte);
}

bool may_be_late_echo_of_last_byte(int byte) {
  return echo_enabled && !relay_active && last_echo.irregular && byte >= 0 && byte == last_unit_end;
}

bool device_begins_to_answer() {
  const int echo = echo_pending();
  return fill_received(echo + 1, {pclink_byte_timeout * 10, 0}) > echo;
}

bool bytes_behind_last_read() {
  if (relay_active) return false;
  // After an echo that came back as sent the device's answer is the next
  // byte; after a damaged one, what comes right behind it is looked at too.
  if (received_count() == 0 && last_echo.irregular) fill_received(1, {drain_silence_ms(), 0});
  return received_count() > 0;
}

int recv_ahead(int n) {
  take_echo(echo_timeout_ms(echo_pending()));
  const int buffered = received_count();
  if (buffered >= n || unit_stopped) {
    return std::min(buffered, n);
  }
  const int missing = n - buffered;
  const int got = fill_received(n, {unit_timeout_ms(missing), unit_gap_ms()});
  if (got > buffered) control_unheard = false;
  if (got < n) {
    unit_stopped = true;
  }
  return std::min(got, n);
}

int recv_unit(std::uint8_t* destination, int n, bool* damaged) {
  const int count = recv_ahead(n);
  const bool any_damaged = take_received(count, destination);
  damage_handed_on = any_damaged || damage_handed_on;
  if (damaged != nullptr) {
    *damaged = any_damaged;
  }
  return count;
}

bool received_damage() {
  const bool damaged = damage_handed_on;
  damage_handed_on = false;
  return damaged;
}

DrainedBytes discard_until_silence(int byte_limit) {
  take_echo(echo_timeout_ms(echo_pending()));
  // After a unit that stopped coming in the middle, its rest may still come
  // after a pause as long as the one that cut it; otherwise the device fell
  // silent when its damaged unit ended.
  const int silence_ms = unit_stopped ? unit_gap_ms() : drain_silence_ms();
  DrainedBytes drained;
  const std::int64_t deadline = platform::monotonic_milliseconds() + drain_timeout_ms(byte_limit) + silence_ms;
  while (drained.count < byte_limit) {
    if (received_count() == 0) {
      const std::int64_t left = deadline - platform::monotonic_milliseconds();
      const int silence = static_cast<int>(std::min<std::int64_t>(silence_ms, left));
      if (silence <= 0 || fill_received(1, {silence, 0}) == 0) break;
    }
    const int count = std::min(received_count(), byte_limit - drained.count);
    for (int i = 0; i < count; ++i) drained.values.add(received_byte(i));
    drained.last = received_byte(count - 1);
    take_received(count, nullptr);
    drained.count += count;
  }
  unit_stopped = false;
  if (drained.count > 0) control_unheard = false;
  // Bytes drained on a cable were where a unit or an answer should have
  // started. Through the relay they are the rest of a frame refused whole,
  // which its sender sends again: nothing is in doubt.
  if (drained.count > 0 && !relay_active) {
    note_line_doubt();
  }
  return drained;
}

DrainedBytes drain_line() {
  if (relay_active) {
    return {};
  }
  return discard_until_silence(drain_byte_limit);
}

namespace {

// A unit on its way: what it leaves to be heard is its own.
void note_unit_sent(const std::uint8_t* bytes, int n, std::int64_t sent_at_ms) {
  unit_stopped = false;
  filler_sent = false;
  last_control = n == 1 ? bytes[0] : -1;
  last_unit_end = n > 0 ? bytes[n - 1] : -1;
  control_unheard = false;
  if (echo_enabled) {
    remember_sent(bytes, n, sent_at_ms);
  }
}

}  // namespace

bool send_unit(const std::uint8_t* bytes, int n, int timeout) {
  const std::int64_t sent_at = platform::monotonic_milliseconds();
  const bool sent = write_line(bytes, n, timeout * 10 + line_time_ms(n));
  note_unit_sent(bytes, n, sent_at);
  return sent;
}

void send_unit_with_next(const std::uint8_t* bytes, int n, int timeout) {
  hold_line(bytes, n, timeout * 10 + line_time_ms(n));
  note_unit_sent(bytes, n, platform::monotonic_milliseconds());
}

bool line_never_answered() {
  return !line_ever_answered() && !port_failed;
}

void delay_ticks(int n) {
  // The pause times the line: what was held goes out before it.
  flush_held_line();
  platform::sleep_ms(n * 6);
}

void reset_unit_state() {
  reset_line_watch();
  reset_port_bytes();
  reset_echo();
  reset_line_doubts();
  set_line_timing(19200, false, 0);
  unit_stopped = false;
  damage_handed_on = false;
  last_echo = {};
  last_control = -1;
  control_unheard = false;
  filler_sent = false;
}
