// Watching the line for the device's silence, so that a person at a
// terminal sees what the program waits for instead of a frozen screen.
#pragma once

#include "pclink/platform/port.h"

// platform::read_byte with the same total wait. When standard error is a
// terminal the wait is taken in slices of a quarter second, and once the
// device has sent nothing for about two seconds the waiting notice shows.
platform::ReadResult read_byte_watching_silence(int timeout_cs);

// A byte from the device (not the echo of one of ours) has arrived: the
// silence is over.
void note_device_byte();

// The port was opened for the relay adapter: the notice says so.
void note_relay_line();

// Forgets the silence watched so far and the relay, with reset_link_state.
void reset_line_watch();
