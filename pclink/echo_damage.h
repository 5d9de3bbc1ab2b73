// Weighing the damage an echo shows. On an echoing cable the echo comes
// from the device's end: each byte that came back other than it went was
// changed on the way there, and the device got it so, or on the way back,
// and the device got it as sent. Which, the echo cannot tell; the device's
// check can. Damage that the device refuses wherever it struck leaves no
// doubt behind the device's answer: an ACK says it came on the way back, a
// NAK that it came on the way there. Only damage that would pass the check,
// had some of it struck on the way there, may have been stored, and only
// that is a doubt (line_doubts.h).
//
// Principles of operation: the packet layer tells the port layer how the
// device checks the unit it is about to send (expect_unit_check); the echo
// is described as bytes changed in place and at most one run of bytes
// added (echo_match.h); every way of sharing that damage between the way
// there and the way back is played through the device's check.
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

// An echo byte that came back in its place (in the unit as sent), other
// than it went.
struct EchoChange {
  int place = 0;
  std::uint8_t sent = 0;
  std::uint8_t received = 0;
};

// At most this many changed bytes are weighed: past it, the damage is taken
// to pass.
constexpr int weighed_changes_limit = 4;

// The damage an echo showed: changes in place and at most one run of bytes
// added before the unit's byte at added_at (added_count 0: none).
// added_on_way_there: the run is known to have reached the device, whose
// answer came as early as the run made its unit end.
struct EchoDamage {
  const EchoChange* changes = nullptr;
  int change_count = 0;
  int added_at = 0;
  const std::uint8_t* added = nullptr;
  int added_count = 0;
  bool added_on_way_there = false;
};

// Whether some of the damage, struck on the way to the device and the rest
// on the way back, would leave bytes that the device takes for a sound unit
// other than the one sent. The device takes the unit's length of what
// reaches it: an added run pushes our last bytes out. Damage within the
// header counts as passing: the device reads its fields, not a sum.
bool damage_could_pass(const UnitCheck& check, const std::uint8_t* sent, const EchoDamage& damage);
