// Between the POSIX port files, internal to them: the open port's
// descriptor (port.cpp) and the transfers' own state (port_transfers.cpp).
#pragma once

#include <termios.h>

namespace platform_posix {

// The descriptor of the open port, or -1.
int port_descriptor();

// The port has just been set to line: the reads start afresh from it, with
// no mark of a damaged byte half read.
void start_transfers(const termios& line);

}  // namespace platform_posix
