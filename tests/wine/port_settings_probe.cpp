// A Windows program for the end-to-end tests under Wine (not part of the
// suite): the DCB a link mode gets from a port that another program left
// listening to DSR.
//
// It leaves the port as such a program might: DSR flow control and DSR
// sensitivity on (all input is then discarded on a cable that does not wire
// DSR), DTR off, CTS flow control on, NUL bytes stripped; and it takes the
// DCB as a driver reporting both flow-control characters as 0 would give
// it (Windows refuses to set such a DCB, Wine does not). It then makes the
// DCB of link mode 1 from that as the programs do, sets it, reads it back and
// prints the three. Wine keeps neither DSR flag past SetCommState, so the DCB
// as left stands for the one a Windows driver would report to the next
// program. Exits 0 when the DCB set and the one read back listen to no DSR,
// hold DTR on and take the bytes as they come, and the DCB set has two
// different flow-control characters and was taken.
//
//   port_settings_probe PORT
#include <cstdio>
#include <windows.h>

#include "pclink/platform/win32/line_settings.h"
#include "pclink/platform/windows_device_path.h"

namespace {

void print(const char* what, const DCB& line) {
  std::printf("%s: fOutxDsrFlow=%u fDsrSensitivity=%u fDtrControl=%u fOutxCtsFlow=%u fNull=%u XonChar=%d XoffChar=%d\n",
              what, line.fOutxDsrFlow, line.fDsrSensitivity, line.fDtrControl, line.fOutxCtsFlow, line.fNull,
              line.XonChar, line.XoffChar);
}

bool ignores_dsr(const DCB& line) {
  return !line.fOutxDsrFlow && !line.fDsrSensitivity && line.fDtrControl == DTR_CONTROL_ENABLE &&
         !line.fOutxCtsFlow && !line.fNull;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: port_settings_probe PORT\n");
    return 2;
  }
  HANDLE port = CreateFileA(platform::windows_device_path(argv[1]).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "%s: cannot be opened (error %lu)\n", argv[1], GetLastError());
    return 2;
  }
  DCB left{};
  left.DCBlength = sizeof left;
  GetCommState(port, &left);
  left.fOutxDsrFlow = TRUE;
  left.fDsrSensitivity = TRUE;
  left.fDtrControl = DTR_CONTROL_DISABLE;
  left.fOutxCtsFlow = TRUE;
  left.fNull = TRUE;
  SetCommState(port, &left);
  left.XonChar = 0;
  left.XoffChar = 0;
  print("left", left);
  DCB set = platform_win32::line_dcb(left, {19200, false});
  print("set", set);
  const bool taken = SetCommState(port, &set) != 0;
  DCB read_back{};
  read_back.DCBlength = sizeof read_back;
  GetCommState(port, &read_back);
  print("read back", read_back);
  CloseHandle(port);
  const bool characters_apart = set.XonChar != set.XoffChar;
  return taken && characters_apart && ignores_dsr(set) && ignores_dsr(read_back) ? 0 : 1;
}
