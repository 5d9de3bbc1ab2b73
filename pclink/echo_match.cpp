// Matching an echo against the bytes sent.
#include "pclink/echo_match.h"

#include <algorithm>
#include <bit>

#include "pclink/line_timing.h"
#include "pclink/platform/console.h"
#include "pclink/serial_port_bytes.h"

namespace {

// How far either way a differing byte is compared with our own bytes.
constexpr int shift_reach = 8;

// In-step bytes behind an added run that tell it apart from damage: fewer
// match our own by chance too often.
constexpr int in_step_tail_least = 3;

// Whether byte may be the device's answer, ACK or NAK, or one of them with
// a bit flipped on the way: the device answers a Packet it took for ended,
// and one that reached it late, or shifted by bytes added on the way, it
// takes for ended before our last bytes are back.
bool may_be_answer(std::uint8_t byte) {
  constexpr unsigned ack = 0x06;
  constexpr unsigned nak = 0x15;
  return std::popcount(byte ^ ack) <= 1 || std::popcount(byte ^ nak) <= 1;
}

// Whether byte is one of ours within shift_reach places of place.
bool ours_near(const std::uint8_t* sent, int count, std::uint8_t byte, int place) {
  const int first = std::max(place - shift_reach, 0);
  const int last = std::min(place + shift_reach, count - 1);
  for (int i = first; i <= last; ++i) {
    if (sent[i] == byte) return true;
  }
  return false;
}

// Whether the received bytes from place + run on are the sent ones from
// place on, to their end; those not come yet are waited for until deadline.
bool tail_in_step(const std::uint8_t* sent, int count, int place, int run, std::int64_t deadline) {
  for (int i = place; i < count; ++i) {
    if (i + run >= received_count()) {
      const std::int64_t left = deadline - platform::monotonic_milliseconds();
      if (left <= 0 || fill_received(count + run, {static_cast<int>(left), 0}) < count + run) return false;
    }
    if (received_byte(i + run) != sent[i]) return false;
  }
  return true;
}

}  // namespace

EchoMatch match_echo(const std::uint8_t* sent, int count, int received) {
  EchoMatch match;
  while (match.accounted < count && match.used < received) {
    const std::uint8_t byte = received_byte(match.used++);
    match.last_differed = false;
    if (byte == sent[match.accounted]) {
      ++match.accounted;
      match.any_echoed = true;
    } else if (match.accounted + 1 < count && byte == sent[match.accounted + 1]) {
      match.accounted += 2;
      match.any_echoed = true;
      ++match.irregular;
      match.in_step = false;
    } else {
      if (!ours_near(sent, count, byte, match.accounted)) match.foreign.add(byte);
      if (match.change_count < weighed_changes_limit) {
        match.changes[match.change_count] = {match.accounted, sent[match.accounted], byte};
      }
      ++match.change_count;
      ++match.accounted;
      ++match.irregular;
      match.last_differed = true;
    }
  }
  return match;
}

EchoMatch match_insertion(const std::uint8_t* sent, int count) {
  EchoMatch match;
  int place = 0;
  while (place < count && place < received_count() && received_byte(place) == sent[place]) ++place;
  // With our last byte's echo lost, the device's answer would come in its
  // place and be taken for it.
  if (count - place < in_step_tail_least || may_be_answer(sent[count - 1])) return match;
  const std::int64_t deadline =
      platform::monotonic_milliseconds() + line_time_ms(inserted_run_limit) + drain_silence_ms();
  for (int run = 1; run <= inserted_run_limit; ++run) {
    if (!tail_in_step(sent, count, place, run, deadline)) continue;
    for (int i = place; i < place + run; ++i) {
      if (may_be_answer(received_byte(i))) return match;
    }
    match.used = count + run;
    match.accounted = count;
    match.irregular = 1;
    match.any_echoed = true;
    match.in_step = false;
    match.inserted = run;
    match.inserted_at = place;
    for (int i = place; i < place + run; ++i) {
      if (!ours_near(sent, count, received_byte(i), place)) match.foreign.add(received_byte(i));
    }
    return match;
  }
  return match;
}
