// The port layer: opening and closing the port, bytes to and from the line
// through echo suppression, and the drain after a damaged unit, on top of
// the platform's port.
#include "pclink/serial_port.h"

#include <cstdio>
#include <cstring>

#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/line_watch.h"
#include "pclink/platform/port.h"
#include "pclink/platform/process.h"
#include "pclink/serial_port_bytes.h"

bool relay_active = false;

namespace {

constexpr char default_port_name[] = "COM2";
char port_name[port_name_max_length + 1] = "COM2";

// Draining after a damaged unit: the device has finished sending when the
// line stays silent this long, and a line that never falls silent is left
// after this many bytes, so that even a babbling line lets the caller go on.
constexpr int drain_silence_timeout = 50;
constexpr int drain_byte_limit = 8192;

// The line after "port open error": why, in words a user can act on.
// A port name is a host name, in the user's own character set.
void explain_open_failure(const platform::OpenResult& result) {
  const MessageValue port = host_value(port_name);
  switch (result.failure) {
    case platform::OpenFailure::none:
      return;
    case platform::OpenFailure::no_such_port:
      if (result.device_meant[0] != '\0') {
        print_message(msg("port_missing_meant"), {port, result.device_meant});
      } else if (result.device_nearby[0] != '\0') {
        print_message(msg("port_missing_nearby"), {port, result.device_nearby});
      } else {
        print_message(msg("port_missing"), {port});
      }
      return;
    case platform::OpenFailure::busy:
      print_message(msg("port_busy"), {port});
      return;
    case platform::OpenFailure::not_a_port:
      print_message(msg("port_not_serial"), {port});
      return;
    case platform::OpenFailure::no_permission:
      if (result.group[0] == '\0') {
        print_message(msg("port_no_permission"), {port});
      } else {
        print_message(msg("port_no_permission_group"), {port, result.group});
      }
      return;
    case platform::OpenFailure::other:
      print_message(msg("port_open_failed"), {port, result.error});
      return;
  }
}

}  // namespace

int set_port_name(const char* name) {
  if (std::strlen(name) > static_cast<std::size_t>(port_name_max_length)) {
    return 0;
  }
  std::strcpy(port_name, name);
  return 1;
}

const char* current_port_name() {
  return port_name;
}

void open_port(int link_mode) {
  platform::LineSettings settings{9600, false};
  if (link_mode == link_mode_cable_19200) {
    settings.baud = 19200;
  } else if (link_mode == link_mode_relay) {
    settings.odd_parity = true;
  }
  platform::OpenResult opened = platform::open_port(port_name, settings);
  if (opened.failure != platform::OpenFailure::none) {
    print_message(msg("port_open_error"));
    explain_open_failure(opened);
    // Nothing can go on the line: the run ends here, rather than with a
    // failed write and "TimeOut" lines that would bury the reason.
    exit_program(exit_line_failed);
  }
  if (link_mode == link_mode_relay) {
    relay_active = true;
    note_relay_line();
  }
}

void close_port() {
  platform::close_port();
}

int recv_raw(int timeout) {
  int value = recv_past_echo(timeout);
  if (value >= 0) {
    note_device_byte();
  }
  return value;
}

DrainedBytes drain_line() {
  DrainedBytes drained;
  if (relay_active || link_failed) {
    return drained;
  }
  while (drained.count < drain_byte_limit) {
    int byte = recv_raw(drain_silence_timeout);
    if (byte < 0) {
      break;
    }
    drained.last = byte;
    ++drained.count;
  }
  // The silence that ends the drain is the one awaited, not a line failure.
  if (!last_read_failed) {
    link_failed = false;
  }
  return drained;
}

void send_raw(int timeout, std::uint8_t byte) {
  write_port_byte(timeout, byte);
  // Recorded whether or not the write succeeded: a failed write ends the
  // cable conversation anyway, and the relay framing resends whole blocks.
  if (echo_enabled) {
    remember_sent_byte(byte);
  }
}

void delay_ticks(int n) {
  platform::sleep_ms(n * 6);
}

void reset_link_state() {
  platform::close_port();
  reset_line_watch();
  reset_port_bytes();
  reset_echo();
  std::strcpy(port_name, default_port_name);
  relay_active = false;
}
