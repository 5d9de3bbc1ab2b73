#include "pclink/platform/win32/line_settings.h"

namespace platform_win32 {

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
  return line;
}

}  // namespace platform_win32
