// Whether a Windows port paces its bytes: a COM port is a serial line,
// except under Wine, where a COM port is whatever Unix device its prefix
// maps it to, most often a pseudo-terminal to an emulator whose answers
// arrive at once: there, as on a POSIX pseudo-terminal, an answer's time
// says nothing about what it answered. Wine is told by the function its
// ntdll exports and Windows' does not.
#include <windows.h>

#include "pclink/platform/port.h"

namespace platform {

bool line_keeps_pace(const char*) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

}  // namespace platform
