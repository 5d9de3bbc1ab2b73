#include "pclink/platform/posix/line_settings.h"

namespace platform_posix {

namespace {

// Not every system has every flag; one it lacks cannot be set on its lines.
#ifndef CMSPAR
constexpr tcflag_t CMSPAR = 0;
#endif
#ifndef IUCLC
constexpr tcflag_t IUCLC = 0;
#endif
#ifndef IUTF8
constexpr tcflag_t IUTF8 = 0;
#endif
#ifndef CRTSCTS
constexpr tcflag_t CRTSCTS = 0;
#endif
// macOS's flow control by DTR, DSR and carrier, beside RTS/CTS.
#ifndef CDTR_IFLOW
constexpr tcflag_t CDTR_IFLOW = 0;
#endif
#ifndef CDSR_OFLOW
constexpr tcflag_t CDSR_OFLOW = 0;
#endif
#ifndef CCAR_OFLOW
constexpr tcflag_t CCAR_OFLOW = 0;
#endif

constexpr tcflag_t input_flags_cleared = IGNBRK | BRKINT | IGNPAR | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                                         IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8;
constexpr tcflag_t control_flags_cleared =
    CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CDTR_IFLOW | CDSR_OFLOW | CCAR_OFLOW;

}  // namespace

termios raw_line(const termios& found, const platform::LineSettings& settings) {
  termios line = found;
  cfmakeraw(&line);
  line.c_iflag &= ~input_flags_cleared;
  // INPCK in every mode: without it Linux passes a byte with a framing
  // error on as data, and the BSD terminal (macOS) doubles a data 0xFF only
  // with it, which the reading of the marks relies on. Parity itself is
  // made and checked in link mode 2 alone (PARENB).
  line.c_iflag |= PARMRK | INPCK;
  line.c_oflag = 0;
  line.c_lflag = 0;
  line.c_cflag &= ~control_flags_cleared;
  line.c_cflag |= CS8 | CREAD | CLOCAL;
  if (settings.odd_parity) {
    line.c_cflag |= PARENB | PARODD;
  }
  line.c_cc[VMIN] = 1;
  line.c_cc[VTIME] = 0;
  cfsetispeed(&line, speed_for(settings.baud));
  cfsetospeed(&line, speed_for(settings.baud));
  return line;
}

speed_t speed_for(int baud) {
  return baud == 19200 ? B19200 : B9600;
}

}  // namespace platform_posix
