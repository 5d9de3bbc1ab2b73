// How long the line takes, and so how long each wait of the port layer
// may be: the waits of recovery scale with the line's speed and with what
// its adapter may hold back, not with a fixed worst case.
//
// A byte takes 10 bit times on a cable (8N1) and 11 through the relay
// (8O1): 0.52 ms at 19200 baud, 1.15 ms at 9600 with parity. A USB adapter
// hands received bytes on when its latency timer runs out (1 ms when the
// driver granted our request for low latency, 16 ms as most come), and the
// host and the device are not real-time systems: each wait adds a margin
// for that.
#pragma once

// The device waits this long for the rest of a unit before it refuses it.
constexpr int device_patience_ms = 3000;

// Set when the port opens: the line's speed, its parity, and what the
// adapter may hold back. Until then a 19200-baud cable without latency.
void set_line_timing(int baud, bool parity, int receive_latency_ms);

// Milliseconds that count bytes take on the line, rounded up.
int line_time_ms(int count);

// A silence inside a unit this long means the unit stopped coming: its
// bytes follow one another without a pause, and only the adapter holds
// them back for a while.
int unit_gap_ms();

// The whole wait for count more bytes of a unit under way: twice their time
// on the line, and a gap. A device that drips its bytes slower than that
// keeps a unit no longer.
int unit_timeout_ms(int count);

// The silence that ends a drain: a few byte times and what the adapter may
// hold back. The device falls silent the moment its unit ends.
int drain_silence_ms();

// The longest a drain goes on, on a line that never falls silent: the time
// its byte limit takes on the line, twice.
int drain_timeout_ms(int byte_limit);

// How long the echo of count bytes may take to come back: it follows the
// bytes at once, but a host or a device under load may hold it up; past
// this the echo is lost, or the line does not echo.
int echo_timeout_ms(int count);
