// The port layer's byte transfers: the one-byte receive buffer and the
// failure flags, on top of the platform's port.
#include "pclink/serial_port_bytes.h"

#include <string>

#include "pclink/console.h"
#include "pclink/line_watch.h"
#include "pclink/platform/port.h"

bool link_failed = false;
bool port_error = false;
bool last_read_failed = false;

namespace {

// Bytes delivered by the platform and not yet handed out.
struct ReceiveBuffer {
  std::uint8_t bytes[2048];
  int read_position = 0;
  int end_position = 0;
} receive_buffer;

// "r-error=5": a line of its own like every message, so that on a terminal
// it starts below the progress line rather than running on from it.
void report_port_error(const Message& report, int error) {
  print_message(report, {error});
}

// Notes in the flags how a platform transfer went: one that failed is
// reported and marks the port as gone; one that timed out marks the line
// as failed (no byte came, or the line did not take ours in time, which is
// as dead as a failed write). 0 when the byte moved, -1 otherwise.
int note_transfer(platform::Transfer status, int error, const Message& report) {
  link_failed = status != platform::Transfer::done;
  port_error = status == platform::Transfer::failed;
  if (port_error) {
    report_port_error(report, error);
  }
  return link_failed ? -1 : 0;
}

}  // namespace

int read_port_byte(int timeout) {
  if (receive_buffer.read_position < receive_buffer.end_position) {
    return receive_buffer.bytes[receive_buffer.read_position++];
  }
  receive_buffer.read_position = 0;
  receive_buffer.end_position = 0;
  platform::ReadResult result = read_byte_watching_silence(timeout);
  last_read_failed = result.status == platform::Transfer::failed;
  if (note_transfer(result.status, result.error, msg("read_error")) < 0) {
    return -1;
  }
  receive_buffer.bytes[0] = result.byte;
  receive_buffer.end_position = 1;
  return receive_buffer.bytes[receive_buffer.read_position++];
}

int write_port_byte(int timeout, std::uint8_t byte) {
  platform::WriteResult result = platform::write_byte(timeout, byte);
  return note_transfer(result.status, result.error, msg("write_error"));
}

void reset_port_bytes() {
  link_failed = false;
  port_error = false;
  last_read_failed = false;
  receive_buffer.read_position = 0;
  receive_buffer.end_position = 0;
}
