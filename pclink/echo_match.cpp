// Matching an echo against the bytes sent.
#include "pclink/echo_match.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <vector>

#include "pclink/line_timing.h"
#include "pclink/platform/console.h"
#include "pclink/serial_port_bytes.h"

namespace {

// The device's answers and the other control bytes of the link, as the port
// layer sees them among the echo.
constexpr std::uint8_t ack = 0x06;
constexpr std::uint8_t nak = 0x15;
constexpr std::uint8_t controls[] = {0x01, 0x04, 0x05, ack, nak, 0x18};  // SOH EOT ENQ ACK NAK CAN

// How far either way a differing byte is compared with our own bytes.
constexpr int shift_reach = 8;

// How far before our unit's end the device's answer to it may come: two
// runs added on the way there.
constexpr int answer_reach = 2 * inserted_run_limit;

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

// Whether the bytes received before received_end end as the sent ones
// before sent_end do.
bool end_in_step(const std::uint8_t* sent, int sent_end, int received_end) {
  if (sent_end < in_step_tail_least || received_end < in_step_tail_least) return false;
  for (int j = 1; j <= in_step_tail_least; ++j) {
    if (received_byte(received_end - j) != sent[sent_end - j]) return false;
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

// in_place[i]: of the first i received bytes, those that differ from the
// bytes sent in their place.
std::vector<int> differing_in_place(const std::uint8_t* sent, int count, int held) {
  std::vector<int> in_place(static_cast<std::size_t>(count) + 1, 0);
  for (int i = 0; i < count; ++i) in_place[i + 1] = in_place[i] + (i < held && received_byte(i) != sent[i]);
  return in_place;
}

// The best reading so far of the echo as the first count bytes sent with a
// run of bytes added: the fewest changes; ambiguous when another as good
// differs in what may have reached the device.
struct BestReading {
  Reading reading;
  int changes = weighed_changes_limit + 1;
  bool ambiguous = false;
};

// Weighs every place of a run bytes long before the count bytes sent whose
// echo, shifted by it, the receive buffer holds: the echo's end must be in
// step.
void weigh_run(const std::uint8_t* sent, int count, int run, const std::vector<int>& in_place, BestReading& best) {
  std::vector<int> shifted(static_cast<std::size_t>(count) + 1, 0);
  for (int i = count - 1; i >= 0; --i) shifted[i] = shifted[i + 1] + (received_byte(i + run) != sent[i]);
  if (shifted[count - in_step_tail_least] > 0) return;
  for (int place = 0; place <= count - in_step_tail_least; ++place) {
    const int changes = in_place[place] + shifted[place];
    if (changes > weighed_changes_limit || changes > best.changes) continue;
    const Reading reading = read_as(sent, count, run, place);
    if (changes == best.changes) {
      // Two readings as good that differ in what may have reached the
      // device: neither is taken. (A doubled byte among bytes alike reads
      // the same wherever it is put.)
      if (!same_damage(reading, best.reading)) best.ambiguous = true;
      continue;
    }
    best.reading = reading;
    best.changes = changes;
    best.ambiguous = false;
  }
}

// The match a reading gives of the echo of count bytes sent; none when a
// byte added or changed may be the device's answer.
EchoMatch match_of(const std::uint8_t* sent, int count, const AnswerPlaces& places, const BestReading& best) {
  if (best.reading.run == 0 || best.ambiguous) return {};
  const Reading& reading = best.reading;
  int first_damaged = reading.place;
  for (const EchoChange& change : reading.changes) first_damaged = std::min(first_damaged, change.place);
  const int answer_from = answers_come_from(count, places, first_damaged);
  EchoMatch match;
  for (int i = reading.place; i < reading.place + reading.run; ++i) {
    if (reading.place >= answer_from && may_be_answer(received_byte(i))) return {};
    if (!ours_near(sent, count, received_byte(i), reading.place)) match.foreign.add(received_byte(i));
  }
  for (const EchoChange& change : reading.changes) {
    if (change.place >= answer_from && may_be_answer(change.received)) return {};
    if (!ours_near(sent, count, change.received, change.place)) match.foreign.add(change.received);
    match.changes[match.change_count++] = change;
  }
  match.irregular = 1 + match.change_count;
  match.any_echoed = true;
  match.inserted = reading.run;
  match.inserted_at = reading.place;
  return match;
}

// Whether a byte of ours, reaching the device on its own between units,
// is one it takes for a unit's start or a control byte: a stray EOT ends
// the file there. Its echo, which comes from the device's end, shows the
// byte as the device got it.
bool is_control(std::uint8_t byte) {
  return std::find(std::begin(controls), std::end(controls), byte) != std::end(controls);
}

// Whether the echo of the first count bytes, received with the device's
// NAK behind them, may be that of a unit a run bytes long pushed out of:
// the echo ends in step at that shift, and our last run bytes, which the
// device then got on their own, hold no control byte.
bool may_have_pushed(const std::uint8_t* sent, int count, int run) {
  if (!end_in_step(sent, count - run, count)) return false;
  return std::none_of(sent + count - run, sent + count, is_control);
}

}  // namespace

bool may_be_answer(std::uint8_t byte) {
  return std::popcount(static_cast<unsigned>(byte ^ ack)) <= 1 || std::popcount(static_cast<unsigned>(byte ^ nak)) <= 1;
}

int answers_come_from(int count, const AnswerPlaces& places, int first_damaged) {
  if (!places.kept_pace || first_damaged < places.header) return 0;
  return std::max(count - answer_reach, 0);
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

EchoMatch match_insertion(const std::uint8_t* sent, int count, const AnswerPlaces& places) {
  // With our last byte's echo lost, the device's answer would come in its
  // place and be taken for it.
  if (count < in_step_tail_least || may_be_answer(sent[count - 1])) return {};
  const std::int64_t deadline =
      platform::monotonic_milliseconds() + line_time_ms(inserted_run_limit) + drain_silence_ms();
  int held = received_count();
  const std::vector<int> in_place = differing_in_place(sent, count, held);
  BestReading best;
  for (int run = 1; run <= inserted_run_limit; ++run) {
    if (count + run > held) {
      // The bytes held end in step at this shift: those it pushed are
      // still coming.
      if (!end_in_step(sent, held - run, held)) continue;
      held = fill_more(count + run, deadline);
      if (count + run > held) continue;
    }
    weigh_run(sent, count, run, in_place, best);
  }
  EchoMatch match = match_of(sent, count, places, best);
  match.used = count + match.inserted;
  match.accounted = count;
  return match;
}

EchoMatch match_early_answer(const std::uint8_t* sent, int count, const AnswerPlaces& places) {
  if (count < in_step_tail_least + inserted_run_limit) return {};
  const int silence_ms = drain_silence_ms();
  if (fill_received(count + 1, {line_time_ms(1) + silence_ms, 0}) <= count || received_byte(count) != nak) return {};
  bool fits = false;
  for (int run = 1; run <= inserted_run_limit; ++run) fits = fits || may_have_pushed(sent, count, run);
  if (!fits) return {};
  // The bytes behind the answer come at once and then the line falls
  // silent: the device waits for our next unit. How many came is the run.
  const int held =
      fill_received(count + inserted_run_limit + 2, {line_time_ms(inserted_run_limit + 1) + silence_ms, silence_ms});
  const int run = held - count - 1;
  if (run < 1 || run > inserted_run_limit || !may_have_pushed(sent, count, run)) return {};
  const int unit_end = count - run;  // our bytes the device took in its unit
  for (int i = 0; i < run; ++i) {
    if (received_byte(count + 1 + i) != sent[unit_end + i]) return {};
  }
  BestReading best;
  weigh_run(sent, unit_end, run, differing_in_place(sent, unit_end, held), best);
  EchoMatch match = match_of(sent, unit_end, places, best);
  match.used = count;
  match.accounted = count;
  match.answered_early = match.inserted > 0;
  return match;
}
