#include "pclink/platform/win32/line_settings.h"

namespace platform_win32 {

namespace {

// The usual flow-control characters. Unused here, but the serial driver
// refuses a DCB whose two are alike, flow control or not, and a port may
// come with both 0.
constexpr char xon = 0x11;
constexpr char xoff = 0x13;

}  // namespace

DCB line_dcb(DCB line, const platform::LineSettings& settings) {
  line.BaudRate = static_cast<DWORD>(settings.baud);
  line.ByteSize = 8;
  line.Parity = settings.odd_parity ? ODDPARITY : NOPARITY;
  line.fParity = settings.odd_parity ? TRUE : FALSE;
  line.StopBits = ONESTOPBIT;
  line.fBinary = TRUE;
  line.fNull = FALSE;
  line.fErrorChar = FALSE;
  line.fAbortOnError = FALSE;
  line.fRtsControl = RTS_CONTROL_DISABLE;
  line.fDtrControl = DTR_CONTROL_ENABLE;
  line.fOutxCtsFlow = FALSE;
  line.fOutxDsrFlow = FALSE;
  line.fDsrSensitivity = FALSE;
  line.fInX = FALSE;
  line.fOutX = FALSE;
  line.fTXContinueOnXoff = TRUE;
  line.XonChar = xon;
  line.XoffChar = xoff;
  return line;
}

}  // namespace platform_win32
