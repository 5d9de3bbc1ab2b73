// A Windows program for the end-to-end tests under Wine (not part of the
// suite): the DCB a link mode gets from a port that another program left
// listening to DSR.
//
// It leaves the port as such a program might: DSR flow control and DSR
// sensitivity on (all input is then discarded on a cable that does not wire
// DSR), DTR off, CTS flow control on, NUL bytes stripped. It then makes the
// DCB of link mode 1 from that as the programs do, sets it, reads it back and
// prints the three. Wine keeps neither DSR flag past SetCommState, so the DCB
// as left stands for the one a Windows driver would report to the next
// program. Exits 0 when the DCB set and the one read back listen to no DSR,
// hold DTR on and take the bytes as they come.
//
//   port_settings_probe PORT
#include <cstdio>
#include <windows.h>

#include "pclink/platform/win32/line_settings.h"
#include "pclink/platform/windows_device_path.h"

namespace {

void print(const char* what, const DCB& line) {
  std::printf("%s: fOutxDsrFlow=%u fDsrSensitivity=%u fDtrControl=%u fOutxCtsFlow=%u fNull=%u\n", what,
              line.fOutxDsrFlow, line.fDsrSensitivity, line.fDtrControl, line.fOutxCtsFlow, line.fNull);
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
  print("left", left);
  DCB set = platform_win32::line_dcb(left, {19200, false});
  print("set", set);
  SetCommState(port, &set);
  DCB read_back{};
  read_back.DCBlength = sizeof read_back;
  GetCommState(port, &read_back);
  print("read back", read_back);
  CloseHandle(port);
  return ignores_dsr(set) && ignores_dsr(read_back) ? 0 : 1;
}
