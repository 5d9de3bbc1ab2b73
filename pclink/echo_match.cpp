// Matching an echo against the bytes sent.
#include "pclink/echo_match.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "pclink/line_timing.h"
#include "pclink/platform/console.h"
#include "pclink/serial_port_bytes.h"

namespace {

// How far either way a differing byte is compared with our own bytes.
constexpr int shift_reach = 8;

// In-step bytes behind an added run that tell it apart from damage: fewer
// match our own by chance too often.
constexpr int in_step_tail_least = 3;

// Whether byte is one of ours within shift_reach places of place.
bool ours_near(const std::uint8_t* sent, int count, std::uint8_t byte, int place) {
  const int first = std::max(place - shift_reach, 0);
  const int last = std::min(place + shift_reach, count - 1);
  for (int i = first; i <= last; ++i) {
    if (sent[i] == byte) return true;
  }
  return false;
}

// Whether the bytes received up to the last held end as the sent ones up
// to sent_end do: the bytes shifted so are still coming.
bool end_in_step(const std::uint8_t* sent, int sent_end) {
  if (sent_end < in_step_tail_least) return false;
  const int held = received_count();
  for (int j = 1; j <= in_step_tail_least; ++j) {
    if (received_byte(held - j) != sent[sent_end - j]) return false;
  }
  return true;
}

// Waits until deadline for the receive buffer to hold count bytes: the bytes
// a run pushed behind the echo are on the line right behind it. Returns how
// many it holds.
int fill_more(int count, std::int64_t deadline) {
  const std::int64_t left = deadline - platform::monotonic_milliseconds();
  return left > 0 ? fill_received(count, {static_cast<int>(left), 0}) : received_count();
}

// The echo read as the sent bytes with run bytes added before place, and
// the bytes that then differ.
struct Reading {
  int run = 0;
  int place = 0;
  std::vector<EchoChange> changes;
};

Reading read_as(const std::uint8_t* sent, int count, int run, int place) {
  Reading reading{run, place, {}};
  for (int i = 0; i < count; ++i) {
    const std::uint8_t byte = received_byte(i < place ? i : i + run);
    if (byte != sent[i]) reading.changes.push_back({i, sent[i], byte});
  }
  return reading;
}

bool same_damage(const Reading& a, const Reading& b) {
  if (a.run != b.run || a.changes.size() != b.changes.size()) return false;
  for (std::size_t i = 0; i < a.changes.size(); ++i) {
    if (a.changes[i].place != b.changes[i].place || a.changes[i].received != b.changes[i].received) return false;
  }
  for (int i = 0; i < a.run; ++i) {
    if (received_byte(a.place + i) != received_byte(b.place + i)) return false;
  }
  return true;
}

}  // namespace

bool may_be_answer(std::uint8_t byte) {
  constexpr unsigned ack = 0x06;
  constexpr unsigned nak = 0x15;
  return std::popcount(byte ^ ack) <= 1 || std::popcount(byte ^ nak) <= 1;
}

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
  // With our last byte's echo lost, the device's answer would come in its
  // place and be taken for it.
  if (count < in_step_tail_least || may_be_answer(sent[count - 1])) return {};
  const std::int64_t deadline =
      platform::monotonic_milliseconds() + line_time_ms(inserted_run_limit) + drain_silence_ms();
  int held = received_count();
  // in_place[i]: bytes before i that differ in place; shifted[i]: bytes
  // from i on that differ from what came run places later.
  std::vector<int> in_place(static_cast<std::size_t>(count) + 1, 0);
  for (int i = 0; i < count && i < held; ++i) in_place[i + 1] = in_place[i] + (received_byte(i) != sent[i]);
  std::vector<int> shifted(static_cast<std::size_t>(count) + 1, 0);
  Reading best;
  int best_changes = weighed_changes_limit + 1;
  bool ambiguous = false;
  for (int run = 1; run <= inserted_run_limit; ++run) {
    if (count + run > held) {
      if (!end_in_step(sent, held - run)) continue;
      held = fill_more(count + run, deadline);
      if (count + run > held) continue;
    }
    for (int i = count - 1; i >= 0; --i) shifted[i] = shifted[i + 1] + (received_byte(i + run) != sent[i]);
    if (shifted[count - in_step_tail_least] > 0) continue;  // the echo's end must be in step
    for (int place = 0; place <= count - in_step_tail_least; ++place) {
      const int changes = in_place[place] + shifted[place];
      if (changes > weighed_changes_limit || changes > best_changes) continue;
      const Reading reading = read_as(sent, count, run, place);
      if (changes == best_changes) {
        // Two readings as good that differ in what may have reached the
        // device: neither is taken. (A doubled byte among bytes alike reads
        // the same wherever it is put.)
        if (!same_damage(reading, best)) ambiguous = true;
        continue;
      }
      best = reading;
      best_changes = changes;
      ambiguous = false;
    }
  }
  if (best.run == 0 || ambiguous) return {};
  EchoMatch match;
  for (int i = best.place; i < best.place + best.run; ++i) {
    if (may_be_answer(received_byte(i))) return {};
    if (!ours_near(sent, count, received_byte(i), best.place)) match.foreign.add(received_byte(i));
  }
  for (const EchoChange& change : best.changes) {
    if (may_be_answer(change.received)) return {};
    if (!ours_near(sent, count, change.received, change.place)) match.foreign.add(change.received);
    match.changes[match.change_count++] = change;
  }
  match.used = count + best.run;
  match.accounted = count;
  match.irregular = 1 + match.change_count;
  match.any_echoed = true;
  match.inserted = best.run;
  match.inserted_at = best.place;
  return match;
}
