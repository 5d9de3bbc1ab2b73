// The serial port on Windows: the kernel32 communication-device calls.
//
// Every transfer is a blocking one-byte ReadFile or WriteFile whose only
// limit is the total constant of the port's time-out record, rewritten
// before each call. The port is therefore opened WITHOUT
// FILE_FLAG_OVERLAPPED: on a handle opened for overlapped I/O a ReadFile or
// WriteFile without an OVERLAPPED record is unsupported, and under Wine each
// one fails at once with ERROR_INVALID_PARAMETER (87) before a byte moves.
//
// A name that opens something other than a communication device (an
// ordinary file, a pipe) is refused before a byte is written to it. The
// DCB and time-outs found at open are put back when the port closes.
#include "pclink/platform/port.h"

#include <cstdlib>
#include <windows.h>

#include "pclink/platform/process.h"
#include "pclink/platform/windows_device_path.h"

namespace {

HANDLE port_handle = INVALID_HANDLE_VALUE;
// Created with the port and closed before it. Nothing waits on it; it is
// kept because other PC-link software on the same machine may look for it.
HANDLE port_event = nullptr;

// What the port was before this process changed it.
DCB found_line{};
COMMTIMEOUTS found_timeouts{};

void set_total_timeouts(int read_cs, int write_cs) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(read_cs) * 10;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(write_cs) * 10;
  // Held, so that an interrupt's handler, which puts the time-outs found at
  // open back, never has them overwritten by this thread afterwards.
  platform::hold_interrupts();
  SetCommTimeouts(port_handle, &timeouts);
  platform::release_interrupts();
}

// Changes only the fields a link mode depends on, and those that would
// otherwise alter binary data or stop the line after one error (left set by
// another program, NUL bytes would be stripped, errors replaced, every
// transfer after a line error refused). DTR control, DSR flow control and
// sensitivity and the parity check stay as the driver has them.
bool apply_line_settings(DCB line, const platform::LineSettings& settings) {
  line.BaudRate = static_cast<DWORD>(settings.baud);
  line.ByteSize = 8;
  line.Parity = settings.odd_parity ? ODDPARITY : NOPARITY;
  line.StopBits = ONESTOPBIT;
  line.fBinary = TRUE;
  line.fNull = FALSE;
  line.fErrorChar = FALSE;
  line.fAbortOnError = FALSE;
  line.fRtsControl = RTS_CONTROL_DISABLE;
  line.fInX = FALSE;
  line.fOutX = FALSE;
  line.fOutxCtsFlow = FALSE;
  return SetCommState(port_handle, &line) != 0;
}

platform::OpenResult refused(platform::OpenFailure failure, DWORD error) {
  platform::OpenResult result{};
  result.failure = failure;
  result.error = static_cast<int>(error);
  return result;
}

platform::OpenResult open_failure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return refused(platform::OpenFailure::no_such_port, error);
    // A port another program holds is refused as access denied.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return refused(platform::OpenFailure::busy, error);
    default:
      return refused(platform::OpenFailure::other, error);
  }
}

// The line error that failed a transfer is cleared, or the driver might
// refuse every later one.
void clear_line_error() {
  DWORD errors = 0;
  ClearCommError(port_handle, &errors, nullptr);
}

void release_port() {
  platform::hold_interrupts();
  HANDLE handle = port_handle;
  if (handle != INVALID_HANDLE_VALUE) {
    SetCommState(handle, &found_line);
    SetCommTimeouts(handle, &found_timeouts);
    port_handle = INVALID_HANDLE_VALUE;
    CloseHandle(handle);
  }
  platform::release_interrupts();
}

void close_event() {
  if (port_event != nullptr) {
    CloseHandle(port_event);
    port_event = nullptr;
  }
}

void release_port_at_exit() {
  close_event();
  release_port();
}

// Under the interrupt hold: the handler finds either no port or one whose
// settings before this run are known.
platform::OpenResult open_and_configure(const char* name, const platform::LineSettings& settings) {
  using platform::OpenFailure;
  std::string path = platform::windows_device_path(name);
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return open_failure(GetLastError());
  }
  found_line = DCB{};
  found_line.DCBlength = sizeof found_line;
  if (!GetCommState(handle, &found_line) || !GetCommTimeouts(handle, &found_timeouts)) {
    platform::OpenResult result = refused(OpenFailure::not_a_port, GetLastError());
    CloseHandle(handle);
    return result;
  }
  port_handle = handle;
  if (!apply_line_settings(found_line, settings)) {
    platform::OpenResult result = refused(OpenFailure::other, GetLastError());
    port_handle = INVALID_HANDLE_VALUE;
    CloseHandle(handle);
    return result;
  }
  return refused(OpenFailure::none, 0);
}

}  // namespace

namespace platform {

OpenResult open_port(const char* name, const LineSettings& settings) {
  port_event = CreateEventA(nullptr, FALSE, FALSE, "RRS232CPORT");
  hold_interrupts();
  OpenResult result = open_and_configure(name, settings);
  release_interrupts();
  if (result.failure != OpenFailure::none) {
    return result;
  }
  // Whatever reached the line before this run is no answer to it.
  PurgeComm(port_handle, PURGE_RXCLEAR | PURGE_RXABORT);
  static const bool released_at_exit = std::atexit(release_port_at_exit) == 0;
  (void)released_at_exit;
  return result;
}

ReadResult read_byte(int timeout_cs) {
  set_total_timeouts(timeout_cs, 0);
  std::uint8_t byte = 0;
  DWORD delivered = 0;
  if (!ReadFile(port_handle, &byte, 1, &delivered, nullptr)) {
    int error = static_cast<int>(GetLastError());
    clear_line_error();
    return {Transfer::failed, 0, error};
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
    int error = static_cast<int>(GetLastError());
    clear_line_error();
    return {Transfer::failed, error};
  }
  // Likewise an expired write time-out succeeds with nothing written; the
  // byte never reached the line, so it must not count as sent.
  if (written == 0) {
    return {Transfer::timed_out, 0};
  }
  return {Transfer::done, 0};
}

void close_port() {
  close_event();
  release_port();
}

void abandon_port() {
  // The program's own thread may be waiting on the port right now: the
  // line is put back under it, and the handle is left for the ending
  // process to close, which also ends that wait. Aborting the wait instead
  // would let that thread run on to a "TimeOut" of its own.
  if (port_handle != INVALID_HANDLE_VALUE) {
    SetCommState(port_handle, &found_line);
    SetCommTimeouts(port_handle, &found_timeouts);
  }
}

}  // namespace platform
