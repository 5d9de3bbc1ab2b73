// The serial port on Windows: the kernel32 communication-device calls.
//
// Every transfer is one ReadFile or WriteFile of a whole unit, limited by
// the port's time-out record, rewritten before each call: a read ends when
// the bytes asked for have come, its total time is up, or (its interval
// time-out) the line has fallen silent inside the unit.
//
// The port is opened for overlapped I/O, and each transfer is waited for
// with an OVERLAPPED record of its own. On a handle opened without it the
// system runs one call at a time: SetCommState from the interrupt handler's
// thread would wait for the program's read to end, and for ever once that
// thread is stopped. Waiting on an event holds nothing, so the handler can
// cancel the transfer under way and put the line back at once.
//
// A name that opens something other than a communication device (an
// ordinary file, a pipe) is refused before a byte is written to it. The
// DCB and time-outs found at open are put back when the port closes, once
// the last unit written has had its time on the line.
#include "pclink/platform/port.h"

#include <algorithm>
#include <cstdlib>
#include <windows.h>

#include "pclink/platform/process.h"
#include "pclink/platform/win32/line_settings.h"
#include "pclink/platform/windows_device_path.h"

namespace {

HANDLE port_handle = INVALID_HANDLE_VALUE;
// Signalled when a transfer on the port is done.
HANDLE transfer_done = nullptr;
// Created with the port and closed before it. Nothing waits on it; it is
// kept because other PC-link software on the same machine may look for it.
HANDLE port_event = nullptr;

constexpr int adapter_latency_as_it_comes_ms = 16;

// What the port was before this process changed it.
DCB found_line{};
COMMTIMEOUTS found_timeouts{};

// A byte's time on the line, and when the last unit written may still be
// going out: WriteFile is done once a USB adapter or the UART's FIFO holds
// the bytes, which then take their time on the line.
int byte_time_us = 0;
ULONGLONG last_unit_out_at_ms = 0;

void set_timeouts(COMMTIMEOUTS timeouts) {
  // Held, so that an interrupt's handler, which puts the time-outs found at
  // open back, never has them overwritten by this thread afterwards.
  platform::hold_interrupts();
  SetCommTimeouts(port_handle, &timeouts);
  platform::release_interrupts();
}

// A ReadFile or WriteFile on the port, started with io, waited for to its
// end. False when it failed, with the error for GetLastError. A time-out
// that expires ends it with the bytes moved so far, which Windows counts a
// success and Wine an error.
bool finish_transfer(OVERLAPPED& io, BOOL started, DWORD& moved) {
  moved = 0;
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  return GetOverlappedResult(port_handle, &io, &moved, TRUE) != 0 || GetLastError() == ERROR_TIMEOUT;
}

// The bytes the driver holds for us. The line errors its look cleared are
// kept for the read that takes them (take_line_errors).
DWORD line_errors_seen = 0;
DWORD bytes_waiting() {
  DWORD errors = 0;
  COMSTAT status{};
  ClearCommError(port_handle, &errors, &status);
  line_errors_seen |= errors;
  return status.cbInQue;
}

// One ReadFile of up to count bytes within total_ms, its bytes at most
// interval_ms apart (0: no such limit). A read that may not wait at all
// takes what has come: all three read fields 0 would wait for ever, and
// Wine waits for ever on the fields that mean "at once" in an overlapped
// read too.
DWORD read_within(std::uint8_t* buffer, DWORD count, int total_ms, int interval_ms, bool& failed) {
  failed = false;
  COMMTIMEOUTS timeouts{};
  if (total_ms <= 0) {
    count = std::min(count, bytes_waiting());
    if (count == 0) return 0;
    timeouts.ReadTotalTimeoutConstant = 1;  // the bytes are there
  } else {
    timeouts.ReadIntervalTimeout = static_cast<DWORD>(interval_ms);
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(total_ms);
  }
  set_timeouts(timeouts);
  DWORD delivered = 0;
  OVERLAPPED io{};
  io.hEvent = transfer_done;
  failed = !finish_transfer(io, ReadFile(port_handle, buffer, count, nullptr, &io), delivered);
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

// The line errors since the last look, cleared: the driver tells of a
// parity or framing error or a break only so, not which byte it struck; and
// an error left standing might make it refuse every later transfer.
DWORD take_line_errors() {
  DWORD errors = 0;
  ClearCommError(port_handle, &errors, nullptr);
  errors |= line_errors_seen;
  line_errors_seen = 0;
  return errors;
}

// Waits until the last unit written has had its time on the line, so that
// its last bytes do not go out at the speed or parity found at open.
void let_last_unit_out() {
  const ULONGLONG now = GetTickCount64();
  if (last_unit_out_at_ms > now) Sleep(static_cast<DWORD>(last_unit_out_at_ms - now));
}

void release_port() {
  platform::hold_interrupts();
  HANDLE handle = port_handle;
  if (handle != INVALID_HANDLE_VALUE) {
    let_last_unit_out();
    SetCommState(handle, &found_line);
    SetCommTimeouts(handle, &found_timeouts);
    port_handle = INVALID_HANDLE_VALUE;
    CloseHandle(handle);
    CloseHandle(transfer_done);
    transfer_done = nullptr;
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
  HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
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
  transfer_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  port_handle = handle;
  if (transfer_done == nullptr || !apply_line_settings(found_line, settings)) {
    platform::OpenResult result = refused(OpenFailure::other, GetLastError());
    port_handle = INVALID_HANDLE_VALUE;
    CloseHandle(handle);
    if (transfer_done != nullptr) CloseHandle(transfer_done);
    transfer_done = nullptr;
    return result;
  }
  byte_time_us = ((settings.odd_parity ? 11 : 10) * 1'000'000 + settings.baud - 1) / settings.baud;
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
  // Whatever reached the line before this run is no answer to it, and an
  // error the change of settings raised is no damage to it.
  PurgeComm(port_handle, PURGE_RXCLEAR | PURGE_RXABORT);
  take_line_errors();
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
  const int error = failed ? static_cast<int>(GetLastError()) : 0;
  // Every byte of the read counts as damaged when the driver tells of an
  // error, so that the unit they belong to is refused.
  const DWORD errors = take_line_errors();
  const std::uint8_t damaged = (errors & (CE_RXPARITY | CE_FRAME | CE_BREAK)) != 0 ? 1 : 0;
  std::fill(damage, damage + delivered, damaged);
  if (failed) {
    return {Transfer::failed, static_cast<int>(delivered), error};
  }
  // A time-out expiring is not an error: ReadFile succeeds with fewer bytes.
  const Transfer status = delivered >= static_cast<DWORD>(limits.wanted) ? Transfer::done : Transfer::timed_out;
  return {status, static_cast<int>(delivered), 0};
}

WriteResult write_bytes(const std::uint8_t* bytes, int count, int timeout_ms) {
  COMMTIMEOUTS timeouts{};
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(timeout_ms);
  set_timeouts(timeouts);
  DWORD written = 0;
  OVERLAPPED io{};
  io.hEvent = transfer_done;
  if (!finish_transfer(io, WriteFile(port_handle, bytes, static_cast<DWORD>(count), nullptr, &io), written)) {
    int error = static_cast<int>(GetLastError());
    take_line_errors();
    return {Transfer::failed, error};
  }
  last_unit_out_at_ms = GetTickCount64() + (static_cast<ULONGLONG>(written) * byte_time_us + 999) / 1000 + 1;
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
  // The program's thread, stopped by now, may have a transfer under way: it
  // is cancelled, and what the driver still had to send is dropped, so that
  // no byte goes out with the line as found. The handle is left for the
  // ending process to close.
  if (port_handle != INVALID_HANDLE_VALUE) {
    CancelIoEx(port_handle, nullptr);
    PurgeComm(port_handle, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR);
    SetCommState(port_handle, &found_line);
    SetCommTimeouts(port_handle, &found_timeouts);
  }
}

}  // namespace platform
