// The bytes between the port layer and the platform: the receive buffer,
// the platform's transfers, and the record of a port that failed. Internal
// to the port layer (serial_port.cpp, echo.cpp); the layers above move
// bytes with its operations (serial_port.h).
//
// The receive buffer holds what the platform delivered and the port layer
// has not handed on yet, each byte with a mark of damage (a parity or
// framing error, a break). A read asks the platform for the bytes still
// missing and takes whatever else had already arrived behind them: no read
// waits for a byte the protocol does not need yet.
#pragma once

#include <cstdint>

// The port itself failed: a read or write reported an error (an unplugged
// adapter, a hung-up line), printed as "r-error=<code>" or "w_error=<code>".
// Set by the transfers below, and kept: a port that failed is gone for the
// rest of the run.
extern bool port_failed;

// What a read of the line waits for, in milliseconds.
struct LineWait {
  int timeout_ms;  // the whole wait
  int gap_ms;      // once a byte has come, a silence this long ends it; 0: none
};

// Waits until the receive buffer holds at least count bytes, reading what is
// missing from the port within wait. Returns how many it holds, fewer than
// count when the wait ran out or the port failed.
int fill_received(int count, const LineWait& wait);

// Bytes in the receive buffer.
int received_count();
// The index-th byte in the receive buffer (index < received_count()).
std::uint8_t received_byte(int index);
// Whether it came damaged.
bool received_damaged(int index);
// Hands on the first count bytes of the buffer to destination (which may
// be null: they are dropped). Returns whether any of them came damaged.
bool take_received(int count, std::uint8_t* destination);
// Drops count bytes from the buffer at index, leaving those around them:
// echo of ours that came behind the device's answer.
void drop_received(int index, int count);

// Whether a byte has ever come from the line in this run.
bool line_ever_answered();

// Writes count bytes to the port as one unit, behind a unit held back for
// it in the same write. False when the write failed (reported, and
// port_failed set) or the line did not take them in time.
bool write_line(const std::uint8_t* bytes, int count, int timeout_ms);
// Holds a short unit back to go out in one write with the next: a relay's
// ACK block and the ENQ block of the frame we send next are two USB
// transfers otherwise, and the far end answers neither before it has both.
// What is held goes out before any read waits for the line (fill_received),
// and with flush_held_line before a pause or a close.
void hold_line(const std::uint8_t* bytes, int count, int timeout_ms);
// Writes a held unit, if any: as write_line.
bool flush_held_line();
// The same at the end of the process, where a port that failed or was
// put back already has nothing more to say.
void flush_held_line_quietly();

// Nothing received, nothing failed: the start-up state.
void reset_port_bytes();
