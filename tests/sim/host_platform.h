// The host's platform (its port, console and clock) on a simulated line.
#pragma once

#include "pclink/platform/port.h"
#include "sim/virtual_line.h"

namespace sim {

// The line the host's port reaches from now on; the port starts closed.
void attach_host(VirtualLine* line);

// What the host asked of the port when it opened it.
platform::LineSettings host_line_settings();

}  // namespace sim
