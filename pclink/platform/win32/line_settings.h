// The DCB of a link mode, internal to the Windows platform files.
#pragma once

#include <windows.h>

#include "pclink/platform/port.h"

namespace platform_win32 {

// The line as found, with every field of the DCB that bears on the line
// set, so that nothing another program left on the port changes what the
// device receives or what we read: left set, DSR sensitivity would discard
// all input on a cable that does not wire DSR, DSR or CTS flow control would
// stop our output, NUL bytes would be stripped, errors replaced, and every
// transfer after a line error refused; flow-control characters left alike
// would make the driver refuse the DCB. DTR is held on: most cables and relay
// adapters take power or a ready signal from it. The parity is checked in
// link mode 2, where a byte that fails it is line damage.
DCB line_dcb(DCB found, const platform::LineSettings& settings);

}  // namespace platform_win32
