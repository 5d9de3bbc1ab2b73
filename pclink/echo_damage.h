// Weighing the damage an echo shows. On an echoing cable the echo comes
// from the device's end: each byte that came back other than it went was
// changed on the way there, and the device got it so, or on the way back,
// and the device got it as sent. Which, the echo cannot tell; the device's
// check can. Damage that the device refuses wherever it struck leaves no
// doubt behind the device's answer: an ACK says it came on the way back, a
// NAK that it came on the way there. Only damage that would pass the check,
// had it struck on the way there, may have been stored, and only that is a
// doubt (line_doubts.h).
//
// Principles of operation: the packet layer tells the port layer how the
// device checks the unit it is about to send (expect_unit_check); the echo
// describes what came back as bytes changed in place, or as a run of bytes
// added with the rest in step; these functions say whether any part of that
// damage, struck on the way there and alone, passes the check.
#pragma once

#include <cstdint>

// How the device checks a unit it receives: checksum16 over the bytes from
// summed_from up to summed_to, the sum little-endian right behind them; the
// bytes before summed_from (the header, with the length that tells the
// device where the unit ends) it checks field by field. length: the unit's
// bytes; 0 when no check is known.
struct UnitCheck {
  int length = 0;
  int summed_from = 0;
  int summed_to = 0;
};

// An echo byte that came back in its place, other than it went.
struct EchoChange {
  int place = 0;
  std::uint8_t sent = 0;
  std::uint8_t received = 0;
};

// At most this many changed bytes are weighed: past it, some part of the
// damage is taken to pass (every part is tried, 2^count of them).
constexpr int weighed_changes_limit = 6;

// Whether some of the changes, struck on the way to the device and no
// others, would leave a unit that passes the check. A change in the header
// counts as passing: the device reads its fields, not a sum.
bool changes_could_pass(const UnitCheck& check, const EchoChange* changes, int count);

// Whether the unit as echoed, with bytes added at place and the rest of the
// unit in step behind them, would pass the check had the bytes been added on
// the way to the device. The device then took the unit's length of it, the
// added bytes in and as many of our last ones out. Bytes added within the
// header count as passing.
bool insertion_could_pass(const UnitCheck& check, const std::uint8_t* echoed, int place);
