// The receive buffer and the platform's transfers.
#include "pclink/serial_port_bytes.h"

#include <algorithm>
#include <cstring>

#include "pclink/console.h"
#include "pclink/line_watch.h"
#include "pclink/platform/port.h"

bool port_failed = false;

namespace {

// More than the longest unit (a relay frame of 4096 bytes) with room for
// what arrives behind it.
constexpr int receive_buffer_size = 16384;

struct ReceiveBuffer {
  std::uint8_t bytes[receive_buffer_size];
  std::uint8_t damage[receive_buffer_size];
  int start = 0;  // the next byte to hand on
  int end = 0;
} received;

bool answered = false;

// A short unit waiting to go out at the front of the next one (hold_line).
// Room for a relay control block with plenty to spare; the joined write
// takes the longest unit behind it.
constexpr int waiting_capacity = 64;
struct WaitingUnit {
  std::uint8_t bytes[waiting_capacity];
  int count = 0;
  int timeout_ms = 0;
} waiting;
std::uint8_t joined[waiting_capacity + receive_buffer_size];

// "r-error=5": a line of its own like every message, so that on a terminal
// it starts below the progress line rather than running on from it.
void report_port_error(const Message& message, int error) {
  port_failed = true;
  print_message(message, {error});
}

bool write_now(const std::uint8_t* bytes, int count, int timeout_ms) {
  const platform::WriteResult result = platform::write_bytes(bytes, count, timeout_ms);
  if (result.status == platform::Transfer::failed) {
    report_port_error(msg("write_error"), result.error);
  }
  return result.status == platform::Transfer::done;
}

// Makes room for at least count more bytes behind the buffered ones.
void make_room(int count) {
  if (receive_buffer_size - received.end >= count || received.start == 0) return;
  const int held = received.end - received.start;
  std::memmove(received.bytes, received.bytes + received.start, static_cast<std::size_t>(held));
  std::memmove(received.damage, received.damage + received.start, static_cast<std::size_t>(held));
  received.start = 0;
  received.end = held;
}

}  // namespace

int fill_received(int count, const LineWait& wait) {
  const int missing = count - received_count();
  if (missing <= 0) return received_count();
  flush_held_line();
  make_room(missing);
  const int room = receive_buffer_size - received.end;
  const platform::ReadLimits limits{missing < room ? missing : room, wait.timeout_ms, wait.gap_ms};
  const platform::ReadResult result =
      read_watching_silence(received.bytes + received.end, received.damage + received.end, room, limits);
  received.end += result.count;
  answered = answered || result.count > 0;
  if (result.status == platform::Transfer::failed) {
    report_port_error(msg("read_error"), result.error);
  }
  return received_count();
}

int received_count() {
  return received.end - received.start;
}

std::uint8_t received_byte(int index) {
  return received.bytes[received.start + index];
}

bool received_damaged(int index) {
  return received.damage[received.start + index] != 0;
}

bool take_received(int count, std::uint8_t* destination) {
  bool damaged = false;
  for (int i = 0; i < count; ++i) {
    damaged = damaged || received.damage[received.start + i] != 0;
  }
  if (destination != nullptr) {
    std::memcpy(destination, received.bytes + received.start, static_cast<std::size_t>(count));
  }
  received.start += count;
  if (received.start == received.end) {
    received.start = 0;
    received.end = 0;
  }
  return damaged;
}

void drop_received(int index, int count) {
  count = std::min(count, received_count() - index);
  if (index < 0 || count <= 0) return;
  const int from = received.start + index;
  const int behind = received.end - from - count;
  std::memmove(received.bytes + from, received.bytes + from + count, static_cast<std::size_t>(behind));
  std::memmove(received.damage + from, received.damage + from + count, static_cast<std::size_t>(behind));
  received.end -= count;
}

bool line_ever_answered() {
  return answered;
}

bool write_line(const std::uint8_t* bytes, int count, int timeout_ms) {
  if (waiting.count == 0) return write_now(bytes, count, timeout_ms);
  if (waiting.count + count > static_cast<int>(sizeof joined)) {
    flush_held_line();
    return write_now(bytes, count, timeout_ms);
  }
  std::memcpy(joined, waiting.bytes, static_cast<std::size_t>(waiting.count));
  std::memcpy(joined + waiting.count, bytes, static_cast<std::size_t>(count));
  const int total = waiting.count + count;
  const int total_timeout_ms = waiting.timeout_ms + timeout_ms;
  waiting.count = 0;
  waiting.timeout_ms = 0;
  return write_now(joined, total, total_timeout_ms);
}

void hold_line(const std::uint8_t* bytes, int count, int timeout_ms) {
  if (waiting.count + count > waiting_capacity) {
    flush_held_line();
  }
  if (count > waiting_capacity) {
    write_now(bytes, count, timeout_ms);
    return;
  }
  std::memcpy(waiting.bytes + waiting.count, bytes, static_cast<std::size_t>(count));
  waiting.count += count;
  waiting.timeout_ms += timeout_ms;
}

void flush_held_line_quietly() {
  if (waiting.count == 0) return;
  platform::write_bytes(waiting.bytes, waiting.count, waiting.timeout_ms);
  waiting.count = 0;
  waiting.timeout_ms = 0;
}

bool flush_held_line() {
  if (waiting.count == 0) return true;
  const int count = waiting.count;
  waiting.count = 0;
  const int timeout_ms = waiting.timeout_ms;
  waiting.timeout_ms = 0;
  return write_now(waiting.bytes, count, timeout_ms);
}

void reset_port_bytes() {
  waiting.count = 0;
  waiting.timeout_ms = 0;
  port_failed = false;
  answered = false;
  received.start = 0;
  received.end = 0;
}
