// The serial port on Windows: the kernel32 communication-device calls.
//
// Every transfer is one blocking ReadFile or WriteFile of a whole unit,
// limited by the port's time-out record, rewritten before each call: a
// read ends when the bytes asked for have come, its total time is up, or
// (its interval time-out) the line has fallen silent inside the unit. The
// port is therefore opened WITHOUT
// FILE_FLAG_OVERLAPPED: on a handle opened for overlapped I/O a ReadFile or
// WriteFile without an OVERLAPPED record is unsupported, and under Wine each
// one fails at once with ERROR_INVALID_PARAMETER (87) before a byte moves.
//
// A name that opens something other than a communication device (an
// ordinary file, a pipe) is refused before a byte is written to it. The
// DCB and time-outs found at open are put back when the port closes.
#include "pclink/platform/port.h"

#include <algorithm>
#include <cstdlib>
#include <windows.h>

#include "pclink/platform/process.h"
#include "pclink/platform/win32/line_settings.h"
#include "pclink/platform/windows_device_path.h"

namespace {

HANDLE port_handle = INVALID_HANDLE_VALUE;
// Created with the port and closed before it. Nothing waits on it; it is
// kept because other PC-link software on the same machine may look for it.
HANDLE port_event = nullptr;

constexpr int adapter_latency_as_it_comes_ms = 16;

// What the port was before this process changed it.
DCB found_line{};
COMMTIMEOUTS found_timeouts{};

void set_timeouts(COMMTIMEOUTS timeouts) {
  // Held, so that an interrupt's handler, which puts the time-outs found at
  // open back, never has them overwritten by this thread afterwards.
  platform::hold_interrupts();
  SetCommTimeouts(port_handle, &timeouts);
  platform::release_interrupts();
}

// One ReadFile of up to count bytes within total_ms, its bytes at most
// interval_ms apart (0: no such limit). All three read fields 0 would wait
// for ever, so a read that may not wait at all takes what has come instead.
DWORD read_within(std::uint8_t* buffer, DWORD count, int total_ms, int interval_ms, bool& failed) {
  COMMTIMEOUTS timeouts{};
  if (total_ms <= 0) {
    timeouts.ReadIntervalTimeout = MAXDWORD;
  } else {
    timeouts.ReadIntervalTimeout = static_cast<DWORD>(interval_ms);
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(total_ms);
  }
  set_timeouts(timeouts);
  DWORD delivered = 0;
  failed = !ReadFile(port_handle, buffer, count, &delivered, nullptr);
  return delivered;
}

bool apply_line_settings(const DCB& found, const platform::LineSettings& settings) {
  DCB line = platform_win32::line_dcb(found, settings);
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
  platform::OpenResult opened = refused(OpenFailure::none, 0);
  // An adapter's latency timer is the driver's to set (Device Manager, the
  // port's Advanced settings); as most come it holds bytes for 16 ms.
  opened.receive_latency_ms = adapter_latency_as_it_comes_ms;
  return opened;
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

ReadResult read_bytes(std::uint8_t* buffer, std::uint8_t* damage, int capacity, const ReadLimits& limits) {
  const DWORD asked = static_cast<DWORD>(limits.wanted < capacity ? limits.wanted : capacity);
  const ULONGLONG start = GetTickCount64();
  bool failed = false;
  DWORD delivered = 0;
  if (limits.gap_ms > 0) {
    // The interval time-out only counts once a byte has come: the first
    // byte of a unit's rest is awaited for the gap alone, the rest with it.
    const int first_ms = limits.gap_ms < limits.timeout_ms ? limits.gap_ms : limits.timeout_ms;
    delivered = read_within(buffer, 1, first_ms, 0, failed);
    if (!failed && delivered == 1 && asked > 1) {
      const int left = limits.timeout_ms - static_cast<int>(GetTickCount64() - start);
      delivered += read_within(buffer + 1, asked - 1, left > 0 ? left : 0, limits.gap_ms, failed);
    }
  } else {
    delivered = read_within(buffer, asked, limits.timeout_ms, limits.gap_ms, failed);
  }
  if (failed) {
    int error = static_cast<int>(GetLastError());
    clear_line_error();
    return {Transfer::failed, static_cast<int>(delivered), error};
  }
  // The driver tells of a parity or framing error or a break only as a flag
  // since the last look, not which byte it struck: every byte of the read
  // counts as damaged then, so that the unit they belong to is refused.
  DWORD errors = 0;
  ClearCommError(port_handle, &errors, nullptr);
  const std::uint8_t damaged = (errors & (CE_RXPARITY | CE_FRAME | CE_BREAK)) != 0 ? 1 : 0;
  std::fill(damage, damage + delivered, damaged);
  // A time-out expiring is not an error: ReadFile succeeds with fewer bytes.
  const Transfer status = delivered >= static_cast<DWORD>(limits.wanted) ? Transfer::done : Transfer::timed_out;
  return {status, static_cast<int>(delivered), 0};
}

WriteResult write_bytes(const std::uint8_t* bytes, int count, int timeout_ms) {
  COMMTIMEOUTS timeouts{};
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(timeout_ms);
  set_timeouts(timeouts);
  DWORD written = 0;
  if (!WriteFile(port_handle, bytes, static_cast<DWORD>(count), &written, nullptr)) {
    int error = static_cast<int>(GetLastError());
    clear_line_error();
    return {Transfer::failed, error};
  }
  // Likewise an expired write time-out succeeds with fewer bytes written;
  // those never reached the line, so the unit must not count as sent.
  if (written < static_cast<DWORD>(count)) {
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
