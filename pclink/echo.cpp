// Echo suppression: the record of bytes sent and the taking of their echo
// off the line.
#include "pclink/echo.h"

#include "pclink/console.h"
#include "pclink/serial_port_bytes.h"

bool echo_enabled = true;

namespace {

// How long an echo byte may take to come back. It follows the byte sent at
// once, but the line may hold it up for a while; past this it is lost.
constexpr int echo_timeout = 300;

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

int drop_oldest_echo() {
  int byte = echo_record.bytes[echo_record.oldest];
  echo_record.oldest = (echo_record.oldest + 1) % echo_record_size;
  --echo_record.count;
  return byte;
}

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
    print_message(msg("no_echo"));
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
    print_message(msg("no_echo"));
    return true;
  }
  return false;
}

}  // namespace

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

int echo_pending() {
  return echo_record.count;
}

void remember_sent_byte(std::uint8_t byte) {
  if (echo_record.count == echo_record_size) {
    echo_record.oldest = (echo_record.oldest + 1) % echo_record_size;
    --echo_record.count;
  }
  echo_record.bytes[(echo_record.oldest + echo_record.count) % echo_record_size] = byte;
  ++echo_record.count;
}

void reset_echo() {
  echo_enabled = true;
  echo_record = EchoRecord{};
}
