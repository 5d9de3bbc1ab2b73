// Watching the line for the device's silence, so that a person at a
// terminal sees what the program waits for instead of a frozen screen.
#pragma once

#include <cstdint>

#include "pclink/platform/port.h"

// platform::read_bytes with the same waits. When standard error is a
// terminal a wait for the first byte is taken in slices of a quarter
// second, and once the device has sent nothing for about two seconds the
// waiting notice shows.
platform::ReadResult read_watching_silence(std::uint8_t* buffer, std::uint8_t* damage, int capacity,
                                           const platform::ReadLimits& limits);

// A byte from the device (not the echo of one of ours) has arrived: the
// silence is over.
void note_device_byte();

// The port was opened for the relay adapter: the notice says so.
void note_relay_line();

// Forgets the silence watched so far and the relay, with reset_link_state.
void reset_line_watch();
