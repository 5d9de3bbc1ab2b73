// Opening and closing the port: its name, the settings of the link mode,
// and why it could not be opened, in words a user can act on.
#include <cstdlib>
#include <cstring>

#include "pclink/console.h"
#include "pclink/line_timing.h"
#include "pclink/line_watch.h"
#include "pclink/platform/port.h"
#include "pclink/platform/process.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"

bool relay_active = false;

namespace {

// Whether the open port keeps the line's pace (platform::line_keeps_pace).
bool paced = false;

constexpr char default_port_name[] = "COM2";
char port_name[port_name_max_length + 1] = "COM2";

// The line after "port open error": why. A port name is a host name, in the
// user's own character set.
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

void flush_held_at_exit() {
  flush_held_line_quietly();
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
  // A program may end without closing the port; a unit held back for the
  // next still reaches the line. Registered after the platform's own exit
  // handler, so it runs before the port is put back and closed.
  static const bool flushed_at_exit = std::atexit(flush_held_at_exit) == 0;
  (void)flushed_at_exit;
  set_line_timing(settings.baud, settings.odd_parity, opened.receive_latency_ms);
  paced = platform::line_keeps_pace(port_name);
  if (link_mode == link_mode_relay) {
    relay_active = true;
    note_relay_line();
  }
}

void close_port() {
  flush_held_line();
  platform::close_port();
}

bool line_paced() {
  return paced;
}

void reset_link_state() {
  platform::close_port();
  reset_unit_state();
  std::strcpy(port_name, default_port_name);
  relay_active = false;
  paced = false;
}
