// Matching the bytes that came back in an echo's place against the bytes
// sent: which came back as sent, which differed in place, which were lost,
// and a run of bytes added with the rest in step behind it. Internal to the
// echo suppression (echo.h); the bytes received are the port layer's
// receive buffer.
#pragma once

#include <bitset>
#include <cstdint>

#include "pclink/echo_damage.h"

// A set of byte values: which came among the bytes looked at.
struct ByteValues {
  std::bitset<256> seen;
  void add(std::uint8_t byte) { seen.set(byte); }
  bool held(std::uint8_t byte) const { return seen.test(byte); }
};

// How the bytes that came in the echo's place match the bytes sent.
struct EchoMatch {
  int used = 0;         // bytes received that the echo accounts for
  int accounted = 0;    // bytes sent accounted for
  int irregular = 0;    // echo bytes that differed or were lost
  bool last_differed = false;
  bool any_echoed = false;  // a byte came back as sent: the line echoes
  ByteValues foreign;
  // The bytes that differed in place, the first of them; as many as
  // irregular when no byte was lost or added.
  EchoChange changes[weighed_changes_limit];
  int change_count = 0;
  int inserted = 0;     // bytes added in one run, the rest in step (match_insertion)
  int inserted_at = 0;  // the place in the unit where they came
  // The run reached the device, which answered where it took its unit to
  // end; our last inserted bytes came back behind that answer
  // (match_early_answer).
  bool answered_early = false;
};

// The most bytes the line adds in one run: a doubled byte, or a burst of
// garbage a few bytes long.
constexpr int inserted_run_limit = 8;

// Whether byte may be the device's answer, ACK or NAK, or one of them with
// a bit flipped on the way. The device answers what it took for our unit's
// end: bytes added or held up on the way there make that come early, and
// its answer then comes among the echo of our last bytes.
bool may_be_answer(std::uint8_t byte);

// What tells where among a unit's echo the device's answer to it may have
// come (answers_come_from).
struct AnswerPlaces {
  // The unit's first bytes, which the device reads as fields, the length
  // that tells it where the unit ends among them.
  int header = 0;
  // The unit's last byte reached the device within its patience of the
  // first (its echo came back that soon after the unit went out), and the
  // line had given no cause for doubt before the unit.
  bool kept_pace = false;
};

// The first place in a unit count bytes long, as sent, from which a byte
// that came among its echo (in place of the unit's byte there, or right
// before it) may be the device's answer to that unit. The device answers
// where it took the unit to end. With the damage all behind the header,
// that is our end, or a run or two before it for bytes added on the way
// there. Otherwise it may be anywhere: damage within the header may have
// given the device another length; a device that lost patience in mid-unit
// refuses it there; and once the line has given cause for doubt, bytes of
// ours held up past the device's patience may have come to it as a unit of
// its own, which it refuses whenever its patience ends, each refusal
// moving its count of our Packets on. first_damaged: the first place the
// damage struck.
int answers_come_from(int count, const AnswerPlaces& places, int first_damaged);

// Walks the first received bytes of the receive buffer against the count
// bytes sent. A byte equal to the next sent byte but one means the one
// between was lost on the way; any other byte that differs is counted in
// its place.
EchoMatch match_echo(const std::uint8_t* sent, int count, int received);

// The echo as the bytes sent with one run of bytes added between them and
// nothing else amiss: a doubled byte or a burst of garbage, on the way
// there or back. match_echo reads every byte behind such a run as damage,
// and would leave the run's last bytes to be read as the device's answer.
// The bytes the run pushed behind the unit's echo are on the line right
// behind it and are waited for a short while. The run and the changes that
// give the fewest changes are taken; none where a byte among them may be
// the device's answer to the unit (answers_come_from). inserted stays 0
// when the echo is not so.
EchoMatch match_insertion(const std::uint8_t* sent, int count, const AnswerPlaces& places);

// The echo as the bytes sent with one run of bytes added on the way to the
// device, which took its unit's length of what reached it and refused it:
// its NAK came right behind the echo of the last byte it took, the echo of
// our last bytes, pushed out of its unit, behind the NAK, and then the line
// fell silent. Those bytes reached the device on their own after its
// answer: they must have come back as sent, and none of them may be one it
// takes for a unit's start or a control byte. The first count bytes
// received are the echo (used); the run and the changes are read and
// vetted as by match_insertion. inserted stays 0 when the echo is not so.
EchoMatch match_early_answer(const std::uint8_t* sent, int count, const AnswerPlaces& places);
