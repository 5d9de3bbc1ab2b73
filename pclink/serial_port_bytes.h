// Single bytes between the port layer and the platform, with the record of
// how the last transfer went. The transfers are the port layer's own
// (serial_port.cpp, echo.cpp), the layers above move bytes with recv_raw
// and send_raw; the flags are read by every layer that must tell a silent
// line from a dead port.
#pragma once

#include <cstdint>

// The most recent platform transfer failed or timed out.
extern bool link_failed;
// The most recent platform transfer failed outright rather than timing out:
// the port itself is gone (an unplugged adapter, a hung-up line).
extern bool port_error;
// The most recent platform read failed outright (what port_error says of
// the last read, even after a write).
extern bool last_read_failed;

// One byte from the platform, or -1 when the read failed (reported as
// "r-error=<code>") or timed out. Sets link_failed, port_error and
// last_read_failed as the read went. Every refill asks for exactly one
// byte, so no byte is ever read ahead of the protocol.
int read_port_byte(int timeout);

// One byte to the platform: 0, or -1 when the write failed (reported as
// "w_error=<code>") or timed out. Sets link_failed and port_error.
int write_port_byte(int timeout, std::uint8_t byte);

// Nothing pending, nothing failed: the start-up state.
void reset_port_bytes();
