// The serial port on Windows: the kernel32 communication-device calls.
//
// Every transfer is a blocking one-byte ReadFile or WriteFile whose only
// limit is the total constant of the port's time-out record, rewritten
// before each call. The port is therefore opened WITHOUT
// FILE_FLAG_OVERLAPPED: on a handle opened for overlapped I/O a ReadFile or
// WriteFile without an OVERLAPPED record is unsupported, and under Wine each
// one fails at once with ERROR_INVALID_PARAMETER (87) before a byte moves.
#include "pclink/platform.h"

#include <windows.h>

namespace {

HANDLE port_handle = INVALID_HANDLE_VALUE;
// Created with the port and closed before it. Nothing waits on it; it is
// kept because other PC-link software on the same machine may look for it.
HANDLE port_event = nullptr;

void set_total_timeouts(int read_cs, int write_cs) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(read_cs) * 10;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(write_cs) * 10;
  SetCommTimeouts(port_handle, &timeouts);
}

// Changes only the fields a link mode depends on; DTR control, DSR flow
// control and sensitivity and the parity check stay as the driver has them.
void apply_line_settings(const platform::LineSettings& settings) {
  DCB line{};
  line.DCBlength = sizeof line;
  GetCommState(port_handle, &line);
  line.BaudRate = static_cast<DWORD>(settings.baud);
  line.ByteSize = 8;
  line.Parity = settings.odd_parity ? ODDPARITY : NOPARITY;
  line.StopBits = ONESTOPBIT;
  line.fRtsControl = RTS_CONTROL_DISABLE;
  line.fInX = FALSE;
  line.fOutX = FALSE;
  line.fOutxCtsFlow = FALSE;
  SetCommState(port_handle, &line);
}

}  // namespace

namespace platform {

bool open_port(const char* name, const LineSettings& settings) {
  port_event = CreateEventA(nullptr, FALSE, FALSE, "RRS232CPORT");
  std::string path = windows_device_path(name);
  port_handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (port_handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  apply_line_settings(settings);
  return true;
}

ReadResult read_byte(int timeout_cs) {
  set_total_timeouts(timeout_cs, 0);
  std::uint8_t byte = 0;
  DWORD delivered = 0;
  if (!ReadFile(port_handle, &byte, 1, &delivered, nullptr)) {
    return {Transfer::failed, 0, static_cast<int>(GetLastError())};
  }
  // The read total time-out expiring is not an error: ReadFile succeeds
  // with nothing delivered.
  if (delivered == 0) {
    return {Transfer::timed_out, 0, 0};
  }
  return {Transfer::done, byte, 0};
}

WriteResult write_byte(int timeout_cs, std::uint8_t byte) {
  set_total_timeouts(0, timeout_cs);
  DWORD written = 0;
  if (!WriteFile(port_handle, &byte, 1, &written, nullptr)) {
    return {Transfer::failed, static_cast<int>(GetLastError())};
  }
  // Likewise an expired write time-out succeeds with nothing written; the
  // byte never reached the line, so it must not count as sent.
  if (written == 0) {
    return {Transfer::timed_out, 0};
  }
  return {Transfer::done, 0};
}

void close_port() {
  if (port_event != nullptr) {
    CloseHandle(port_event);
    port_event = nullptr;
  }
  if (port_handle != INVALID_HANDLE_VALUE) {
    CloseHandle(port_handle);
    port_handle = INVALID_HANDLE_VALUE;
  }
}

const char* path_base_name(const char* path) {
  const bool drive = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':';
  const char* base = drive ? path + 2 : path;
  for (const char* at = base; *at != '\0'; ++at) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*at)) && at[1] != '\0') {
      ++at;  // the second byte of the character, whatever its value
    } else if (*at == '/' || *at == '\\') {
      base = at + 1;
    }
  }
  return base;
}

void sleep_ms(int milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace platform
