// The termios of a link mode, internal to the POSIX platform files.
#pragma once

#include <termios.h>

#include "pclink/platform/port.h"

namespace platform_posix {

// The line as found, with every setting that bears on a raw 8N1 or 8O1 line
// made explicit, so that nothing a program left on the port before changes
// what the device receives or what we read:
// - c_iflag: no flow control (IXON, IXOFF, IXANY), no translation or
//   stripping (ISTRIP, INLCR, IGNCR, ICRNL, IUCLC), breaks neither ignored
//   nor turned into signals, parity errors neither ignored nor passed as
//   data: PARMRK marks a damaged byte (and a break) as 0xFF 0x00 before it,
//   and doubles a real 0xFF, so that damage reaches the port layer as such.
//   INPCK in every mode (input checked: the parity of link mode 2, and the
//   framing of every byte).
// - c_oflag: nothing processed on output.
// - c_cflag: 8 data bits, one stop bit, odd parity or none and never mark
//   or space parity (CMSPAR), no flow control by RTS/CTS (nor, on macOS,
//   by DTR, DSR or carrier), the modem lines
//   ignored (CLOCAL), the receiver on (CREAD); HUPCL as found, since the
//   found settings are back before the port closes.
// - c_lflag: no line editing, echo or signals.
// - VMIN 1, VTIME 0: a wait in poll() or select() ends when as many bytes as
//   VMIN have come, which the reads raise to what the unit still needs.
termios raw_line(const termios& found, const platform::LineSettings& settings);

// The termios speed of a baud rate of the link modes.
speed_t speed_for(int baud);

}  // namespace platform_posix
