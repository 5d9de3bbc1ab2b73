// The port layer: echo suppression, the one-byte receive buffer, the failure
// flag and the TimeOut ending, on top of the platform file of this host.
#include "pclink/serial_port.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "pclink/console.h"
#include "pclink/line_watch.h"
#include "pclink/platform.h"
#include "pclink/relay.h"

bool echo_enabled = true;
bool link_failed = false;
bool port_error = false;
bool relay_active = false;

namespace {

constexpr char default_port_name[] = "COM2";
char port_name[port_name_max_length + 1] = "COM2";

// Bytes delivered by the platform and not yet handed out. Every refill asks
// for exactly one byte, so no byte is ever read ahead of the protocol.
struct ReceiveBuffer {
  std::uint8_t bytes[2048];
  int read_position = 0;
  int end_position = 0;
} receive_buffer;

// How long an echo byte may take to come back. It follows the byte sent at
// once, but the line may hold it up for a while; past this it is lost.
constexpr int echo_timeout = 300;

// Draining after a damaged unit: the device has finished sending when the
// line stays silent this long, and a line that never falls silent is left
// after this many bytes, so that even a babbling line lets the caller go on.
constexpr int drain_silence_timeout = 50;
constexpr int drain_byte_limit = 8192;

// Bytes sent while echo suppression is on and not yet seen coming back, as a
// ring. The device answers only once the host's unit is whole, so every byte
// that arrives while echo is pending is counted as echo, whether it matches
// or not: a damaged echo byte cannot leave the record waiting for a byte
// that never comes and take the device's bytes for late echo.
struct EchoRecord {
  std::uint8_t bytes[echo_record_size];
  int oldest = 0;  // the byte expected back next
  int count = 0;
  bool seen = false;  // an echo byte has come back in this run: the line echoes
  // A unit's echo has come back whole, every byte as sent, in this run. Until
  // then single matching bytes may be the device's answer, which can begin
  // like our unit: every relay block starts 00 00 00 00 00 96 82.
  bool seen_whole = false;
  // Units whose echo, before one came back whole, matched but for its last
  // byte: on a line without echo, the device's answer taken for echo.
  int doubtful_units = 0;
  // The last byte that came in place of an echo byte and differed from it:
  // line damage, or the device's first byte when echo bytes were lost.
  int differing = -1;
} echo_record;

void remember_sent_byte(std::uint8_t byte) {
  if (echo_record.count == echo_record_size) {
    echo_record.oldest = (echo_record.oldest + 1) % echo_record_size;
    --echo_record.count;
  }
  echo_record.bytes[(echo_record.oldest + echo_record.count) % echo_record_size] = byte;
  ++echo_record.count;
}

int drop_oldest_echo() {
  int byte = echo_record.bytes[echo_record.oldest];
  echo_record.oldest = (echo_record.oldest + 1) % echo_record_size;
  --echo_record.count;
  return byte;
}

// "r-error=5": a line of its own like every message, so that on a terminal
// it starts below the progress line rather than running on from it.
void report_port_error(const char* what, int error) {
  print_line(what, std::to_string(error).c_str());
}

// The last platform read failed, rather than timed out or succeeded.
bool last_read_failed = false;

int read_port_byte(int timeout) {
  if (receive_buffer.read_position < receive_buffer.end_position) {
    return receive_buffer.bytes[receive_buffer.read_position++];
  }
  link_failed = false;
  port_error = false;
  receive_buffer.read_position = 0;
  receive_buffer.end_position = 0;
  platform::ReadResult result = read_byte_watching_silence(timeout);
  last_read_failed = result.status == platform::Transfer::failed;
  if (last_read_failed) {
    report_port_error("r-error=", result.error);
    link_failed = true;
    port_error = true;
    return -1;
  }
  if (result.status == platform::Transfer::timed_out) {
    link_failed = true;
    return -1;
  }
  receive_buffer.bytes[0] = result.byte;
  receive_buffer.end_position = 1;
  return receive_buffer.bytes[receive_buffer.read_position++];
}

int write_port_byte(int timeout, std::uint8_t byte) {
  link_failed = false;
  port_error = false;
  platform::WriteResult result = platform::write_byte(timeout, byte);
  if (result.status == platform::Transfer::failed) {
    report_port_error("w_error=", result.error);
    link_failed = true;
    port_error = true;
    return -1;
  }
  if (result.status == platform::Transfer::timed_out) {
    // The line did not take the byte in time: as dead as a failed write.
    link_failed = true;
    return -1;
  }
  return 0;
}

// The line after "port open error": why, in words a user can act on.
void explain_open_failure(const platform::OpenResult& result) {
  char detail[256];
  const char* why = detail;
  switch (result.failure) {
    case platform::OpenFailure::none:
      return;
    case platform::OpenFailure::no_such_port:
      why = ": no such port";
      break;
    case platform::OpenFailure::busy:
      why = ": the port is held by another program";
      break;
    case platform::OpenFailure::not_a_port:
      why = ": not a serial port";
      break;
    case platform::OpenFailure::no_permission:
      if (result.group[0] == '\0') {
        why = ": no permission to use the port";
        break;
      }
      std::snprintf(detail, sizeof detail,
                    ": no permission to use the port; join the group %s (sudo usermod -aG %s $USER), "
                    "then log in again",
                    result.group, result.group);
      break;
    case platform::OpenFailure::other:
      std::snprintf(detail, sizeof detail, ": the port cannot be opened (error %d)", result.error);
      break;
  }
  print_host_line(port_name, why);  // a port name is a host name, in the user's set
}

}  // namespace

int link_mode_from_option(const char* option) {
  return option[1] == '\0' ? 0 : option[2] & 3;
}

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

void take_port_option(const char* name) {
  if (set_port_name(name) == 0) {
    print_host_line(name, ":port name too long (at most 79 characters)");
    exit_program(exit_not_done);
  }
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
    print_line("port open error", "");
    explain_open_failure(opened);
    return;
  }
  if (link_mode == link_mode_relay) {
    relay_active = true;
  }
}

void close_port() {
  platform::close_port();
}

namespace {

// The echo did not come back within echo_timeout: the rest of it is given
// up, and the silence is not the device's, so it fails nothing. A line that
// has never echoed a byte in this run does not echo at all: suppression is
// turned off, so that the device's bytes are not taken for echo again.
void give_up_echo() {
  echo_record.oldest = 0;
  echo_record.count = 0;
  if (!last_read_failed) {
    link_failed = false;
  }
  if (!echo_record.seen) {
    echo_enabled = false;
    print_line("no echo on the line: echo suppression off (-C)", "");
  }
}

// A relay adapter without echo, with -C forgotten, never lets the echo time
// out: the device answers each of our blocks with one as long, whose bytes
// all but the last match ours. Two units whose "echo" differs at its last
// byte alone, before any echo came back whole, mean the line does not echo;
// a real echo damaged at just that byte in two of a run's first units is far
// rarer, and damage anywhere else does not count.
constexpr int doubtful_unit_limit = 2;

// Takes one byte off the line for every byte pending as echo. Returns true
// when suppression was turned off because the line proved to have no echo:
// the differing byte is then the device's own.
bool take_echo() {
  int irregular = 0;  // echo bytes that differed or were lost
  bool last_differed = false;
  while (echo_record.count > 0) {
    int value = read_port_byte(echo_timeout);
    if (value < 0) {
      give_up_echo();
      return false;
    }
    last_differed = false;
    if (value == drop_oldest_echo()) {
      echo_record.seen = true;
      echo_record.differing = -1;
    } else if (echo_record.count > 0 && value == echo_record.bytes[echo_record.oldest]) {
      // An echo byte was lost on the way and the next one came in its place.
      drop_oldest_echo();
      echo_record.seen = true;
      echo_record.differing = -1;
      ++irregular;
    } else {
      echo_record.differing = value;
      ++irregular;
      last_differed = true;
    }
  }
  echo_record.oldest = 0;
  if (irregular == 0) {
    echo_record.seen_whole = true;
  } else if (!echo_record.seen_whole && irregular == 1 && last_differed &&
             ++echo_record.doubtful_units >= doubtful_unit_limit) {
    echo_enabled = false;
    print_line("no echo on the line: echo suppression off (-C)", "");
    return true;
  }
  return false;
}

// One byte that is not the echo of ours, or -1.
int recv_past_echo(int timeout) {
  const bool echo_turned_off = echo_enabled && echo_record.count > 0 && take_echo();
  int differing = echo_record.differing;
  echo_record.differing = -1;
  if (echo_turned_off) {
    return differing;
  }
  int value = read_port_byte(timeout);
  if (value < 0 && differing >= 0 && !last_read_failed) {
    // The device stays silent after the echo: the byte that took the last
    // echo byte's place was the device's answer, and that echo byte was lost.
    link_failed = false;
    return differing;
  }
  return value;
}

}  // namespace

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

void link_read(int n, std::uint8_t* destination) {
  if (relay_active) {
    relay_read(n, destination);
    return;
  }
  for (int i = 0; i < n; ++i) {
    if (link_failed) {
      timeout_exit();
    }
    destination[i] = static_cast<std::uint8_t>(recv_raw(pclink_byte_timeout) & 0xFF);
  }
}

int link_read_in_unit(int n, std::uint8_t* destination) {
  if (relay_active) {
    relay_read(n, destination);
    return n;
  }
  for (int i = 0; i < n; ++i) {
    if (link_failed) {
      timeout_exit();
    }
    int byte = recv_raw(packet_byte_timeout);
    if (byte < 0 && !port_error) {
      link_failed = false;
      return i;
    }
    destination[i] = static_cast<std::uint8_t>(byte & 0xFF);
  }
  return n;
}

void link_write(int n, const std::uint8_t* source) {
  if (relay_active) {
    relay_write(n, source);
    return;
  }
  for (int i = 0; i < n; ++i) {
    if (link_failed) {
      timeout_exit();
    }
    send_raw(pclink_byte_timeout, source[i]);
  }
}

void delay_ticks(int n) {
  platform::sleep_ms(n * 6);
}

namespace {

struct EndingNote {
  const char* first = nullptr;
  const char* second = nullptr;
} ending_note;

}  // namespace

void timeout_exit() {
  print_line("TimeOut", "");
  print_ending_note();
  close_port();
  exit_program(exit_line_failed);
}

void set_ending_note(const char* first, const char* second) {
  ending_note = {first, second};
}

void clear_ending_note() {
  ending_note = {};
}

void print_ending_note() {
  if (ending_note.first != nullptr) {
    print_line(ending_note.first, ending_note.second);
  }
}

void reset_link_state() {
  platform::close_port();
  reset_relay_state();
  reset_line_watch();
  std::strcpy(port_name, default_port_name);
  echo_enabled = true;
  link_failed = false;
  port_error = false;
  relay_active = false;
  receive_buffer.read_position = 0;
  receive_buffer.end_position = 0;
  echo_record = EchoRecord{};
  ending_note = {};
}

int echo_pending() {
  return echo_record.count;
}
