// The console as the unit tests see it. Redirected unless a test asks for a
// terminal, so that what the tests capture from the standard streams is
// the bytes a pipe gets, also when a developer runs them at a terminal.
// Its clock is the scripted port's virtual one plus what a test adds, so
// nothing waits for real.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pclink/message_language.h"

namespace scripted_console {

// Both standard streams become a terminal of columns width (0: unknown)
// whose character set is the bytes as they are, so that what the tests
// capture is what the terminal would show.
void act_as_terminal(std::size_t columns);
// The language a terminal's user reads (the programs' own texts until set).
void set_language(MessageLanguage language);
// Moves the clock on.
void advance_clock(std::int64_t milliseconds);
// Redirected again, the programs' own language, the clock's offset back to 0, and the console routines'
// memory of the streams and of the status line forgotten.
void reset();

}  // namespace scripted_console
