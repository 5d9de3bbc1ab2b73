// Echo suppression: the record of bytes sent and the taking of their echo
// off the line, a unit's worth at a time.
#include "pclink/echo.h"

#include <algorithm>
#include <cstring>

#include "pclink/console.h"
#include "pclink/echo_damage.h"
#include "pclink/line_doubts.h"
#include "pclink/line_timing.h"
#include "pclink/platform/console.h"
#include "pclink/serial_port_bytes.h"

bool echo_enabled = true;

namespace {

// Bytes sent while echo suppression is on and not yet seen coming back.
// The device answers only once the host's unit is whole, so as many bytes
// as are pending are counted as echo, whether they match or not: a damaged
// echo byte cannot leave the record waiting for a byte that never comes and
// take the device's bytes for late echo.
struct EchoRecord {
  std::uint8_t bytes[echo_record_size];
  int count = 0;
  bool seen = false;  // an echo byte has come back in this run: the line echoes
  // A unit's echo has come back whole, every byte as sent, in this run. Until
  // then single matching bytes may be the device's answer, which can begin
  // like our unit: every relay block starts 00 00 00 00 00 96 82.
  bool seen_whole = false;
  // Units whose echo, before one came back whole, matched but for its last
  // byte: on a line without echo, the device's answer taken for echo.
  int doubtful_units = 0;
  // How the device checks the unit pending, when the record holds that
  // unit alone.
  UnitCheck check;
  std::int64_t sent_at_ms = 0;  // when the bytes pending began to go out
} record;

// The check of the next unit to be sent (expect_unit_check).
UnitCheck next_unit_check;

// A relay adapter without echo, with -C forgotten, never lets the echo time
// out: the device answers each of our blocks with one as long, whose bytes
// all but the last match ours. Two units whose "echo" differs at its last
// byte alone, before any echo came back whole, mean the line does not echo;
// a real echo damaged at just that byte in two of a run's first units is far
// rarer, and damage anywhere else does not count.
constexpr int doubtful_unit_limit = 2;

// Whether the echo pending can be weighed: a unit whose check is known,
// alone in the record, on a line seen to echo whole.
bool weighable() {
  return record.seen_whole && record.check.length == record.count;
}

// Where among the echo pending the device's answer may have come, now that
// the echo came (echo_match.h). Its readings may wait a little longer, for
// bytes that a run pushed behind our unit.
AnswerPlaces answer_places() {
  const int reading_waits = 2 * drain_silence_ms() + line_time_ms(2 * inserted_run_limit);
  const std::int64_t took = platform::monotonic_milliseconds() - record.sent_at_ms + reading_waits;
  return {record.check.summed_from, line_doubts() == 0 && took < device_patience_ms};
}

// Whether the damage the echo shows is such that the device, had it struck
// on the way there, would have refused the unit: then the device's answer
// stands and leaves no doubt (echo_damage.h).
bool device_would_refuse(const EchoMatch& match, const AnswerPlaces& places) {
  if (!weighable()) return false;
  EchoDamage damage;
  damage.changes = match.changes;
  damage.change_count = match.change_count;
  damage.added_on_way_there = match.answered_early;
  std::uint8_t added[inserted_run_limit];
  if (match.inserted > 0) {
    for (int i = 0; i < match.inserted; ++i) added[i] = received_byte(match.inserted_at + i);
    damage.added_at = match.inserted_at;
    damage.added = added;
    damage.added_count = match.inserted;
  } else {
    // Bytes lost on the way (each counts irregular without a change), or
    // the last byte's place taken: not weighed. (match_insertion vetted
    // its own changes.)
    if (match.change_count != match.irregular || match.last_differed) return false;
    const int weighed = std::min(match.change_count, weighed_changes_limit);
    const int first_damaged = weighed > 0 ? match.changes[0].place : record.count;
    const int answer_from = answers_come_from(record.count, places, first_damaged);
    for (int i = 0; i < weighed; ++i) {
      if (match.changes[i].place >= answer_from && may_be_answer(match.changes[i].received)) return false;
    }
  }
  return !damage_could_pass(record.check, record.bytes, damage);
}

// Whether the last of the received bytes is the echo of one of the last
// bytes we sent, up to the most that may have vanished before it: the
// device had them and is silent, waiting for the rest. The device's answer
// behind an echo that lost bytes on the way back ends otherwise, and so
// would bytes of ours still coming.
bool echo_ends_near_our_end(int received) {
  const std::uint8_t last = received_byte(received - 1);
  for (int i = std::max(record.count - 1 - vanished_bytes_limit, 0); i < record.count; ++i) {
    if (record.bytes[i] == last) return true;
  }
  return false;
}

// Fills the receive buffer with count bytes by deadline, as fill_received
// does, but leaves off when the echo of echo_count bytes, past its time on
// the line, is at most vanished_bytes_limit short, ends with one of our
// last bytes, and nothing more comes for a turnaround. Returns how many it
// holds; stopped: it left off so. Any other echo is waited for to the
// deadline, and a whole one costs one wait, as ever.
int fill_until_stall(int count, int echo_count, std::int64_t deadline, bool* stopped) {
  const auto left_ms = [deadline] {
    return std::max<std::int64_t>(deadline - platform::monotonic_milliseconds(), 0);
  };
  const auto until = [&left_ms](std::int64_t limit_ms) { return static_cast<int>(std::min(left_ms(), limit_ms)); };
  // The echo's last byte is due a unit's time on the line after it went
  // out, and what the adapter holds back.
  int got = fill_received(count, {until(line_time_ms(echo_count) + drain_silence_ms()), 0});
  if (got >= count || port_failed) return got;
  const bool near_whole = got > 0 && got < echo_count && echo_count - got <= vanished_bytes_limit;
  if (near_whole && echo_ends_near_our_end(got)) {
    const int before = got;
    got = fill_received(count, {until(unit_gap_ms()), 0});
    if (got == before && left_ms() > 0) {
      *stopped = true;
      return got;
    }
  }
  return fill_received(count, {static_cast<int>(left_ms()), 0});
}

void turn_suppression_off() {
  echo_enabled = false;
  print_message(msg("no_echo"));
}

}  // namespace

int echo_pending() {
  return record.count;
}

void remember_sent(const std::uint8_t* bytes, int count, std::int64_t sent_at_ms) {
  if (count >= echo_record_size) {
    bytes += count - echo_record_size;
    count = echo_record_size;
  }
  const int kept = std::min(record.count, echo_record_size - count);
  std::memmove(record.bytes, record.bytes + record.count - kept, static_cast<std::size_t>(kept));
  std::memcpy(record.bytes + kept, bytes, static_cast<std::size_t>(count));
  if (kept == 0) record.sent_at_ms = sent_at_ms;
  record.count = kept + count;
  record.check = kept == 0 && next_unit_check.length == count ? next_unit_check : UnitCheck{};
  next_unit_check = {};
}

void expect_unit_check(const UnitCheck& check) {
  next_unit_check = check;
}

EchoTaken take_echo(int timeout_ms, int answer_lead, bool watch_stall) {
  EchoTaken taken;
  if (!echo_enabled || record.count == 0) return taken;
  const int wait_ms = std::min(timeout_ms, echo_timeout_ms(record.count));
  const int wanted = record.count + answer_lead;
  bool stopped = false;
  const int filled =
      watch_stall && record.seen_whole && record.count > 1
          ? fill_until_stall(wanted, record.count, platform::monotonic_milliseconds() + wait_ms, &stopped)
          : fill_received(wanted, {wait_ms, 0});
  const int received = std::min(filled, record.count);
  if (stopped) taken.stopped_short_by = record.count - received;
  EchoMatch match = match_echo(record.bytes, record.count, received);
  if (match.any_echoed) record.seen = true;
  const bool whole = match.accounted == record.count;
  const AnswerPlaces places = answer_places();
  if (whole && !stopped && match.irregular > 1 && weighable()) {
    // Read as one run of bytes added, the echo may need fewer changes.
    const EchoMatch added = match_insertion(record.bytes, record.count, places);
    if (added.inserted > 0 && added.irregular < match.irregular) {
      match = added;
    } else {
      // Or the run reached the device, which answered early: taken only
      // where the device refused that unit, so that its NAK stands.
      const EchoMatch early = match_early_answer(record.bytes, record.count, places);
      if (early.inserted > 0 && early.irregular < match.irregular && device_would_refuse(early, places)) match = early;
    }
  }
  // One echo byte damaged or lost leaves the count in step, and the answer
  // that follows is the device's own. An echo that did not come back whole,
  // or more irregular, may hide bytes added or lost on the way to the
  // device, and the answer taken may not be the device's.
  // An echo that stopped short is bytes lost on the way to the device,
  // which will refuse the unit: the caller weighs its answer.
  // Damage the device refuses wherever it struck is no doubt: its answer
  // tells where.
  const bool doubtful = (!whole && !stopped) || match.inserted > 0 ||
                        match.irregular > (stopped ? taken.stopped_short_by : 1);
  if (doubtful && !(whole && !stopped && device_would_refuse(match, places))) {
    note_line_doubt();
  }
  record.count = 0;
  record.check = {};
  if (received == 0) {
    taken.none_came = true;
    return taken;  // nothing came back: nothing is learnt of the line
  }
  if (!whole && !record.seen) {
    // Bytes came, and not one of them was an echo: they are the device's.
    turn_suppression_off();
    return taken;
  }
  if (whole && match.irregular == 0) {
    record.seen_whole = true;
  } else if (whole && !record.seen_whole && match.irregular == 1 && match.last_differed &&
             ++record.doubtful_units >= doubtful_unit_limit) {
    // The last byte is the device's own.
    take_received(match.used - 1, nullptr);
    turn_suppression_off();
    return taken;
  }
  if (match.last_differed) taken.in_place_of_last = received_byte(match.used - 1);
  taken.foreign = match.foreign;
  taken.irregular = !whole || match.irregular > 0;
  take_received(match.used, nullptr);
  // The echo of our last bytes behind the device's NAK is ours, not news.
  if (match.answered_early) drop_received(1, match.inserted);
  return taken;
}

void reset_echo() {
  echo_enabled = true;
  record = EchoRecord{};
  next_unit_check = {};
}
