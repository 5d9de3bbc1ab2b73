// The serial port: one RS-232 line per process, driven one byte at a time.
//
// Principles of operation: every byte read or written is a separate
// platform transfer under its own time-out, counted in hundredths of a
// second (1000 for each PC-link byte on a cable, 100, 50 and 40 inside the
// optical relay framing). Sent bytes pass echo suppression (echo.h) on the
// way. A transfer that fails or times out sets link_failed
// (serial_port_bytes.h); on a cable the next PC-link byte transfer
// (link_stream.h) then prints "TimeOut" and ends the program with exit code
// 1. In link mode 2 the PC-link bytes go to and from the relay unit buffer
// instead, and the relay framing carries them to the line through this
// layer.
#pragma once

#include <cstdint>

// Link modes chosen with -s: the low two bits of the digit after "-s".
constexpr int link_mode_cable_9600 = 0;
constexpr int link_mode_cable_19200 = 1;
constexpr int link_mode_relay = 2;
constexpr int default_link_mode = link_mode_cable_19200;

// Time-outs in hundredths of a second.
constexpr int pclink_byte_timeout = 1000;
// Each byte of a Packet after its SOH. The device sends a Packet's bytes
// back to back: about half a millisecond apart at 19200 baud, and a USB
// adapter hands them on in bursts a few tens of milliseconds apart at most.
// A byte that has not come within a second was lost on the way and the
// Packet was cut short: waiting the full 10 s for it would only end the run
// with "TimeOut". Cut off after a second, the Packet is refused like any
// damaged one and the device sends it again. A line that stalls longer
// inside a Packet (the noise soak pauses up to 2 s) costs the same NAK and
// repeat; a shorter wait would refuse Packets that a busy host was merely
// slow to collect.
constexpr int packet_byte_timeout = 100;

extern bool relay_active;  // set by open_port in link mode 2

// The port name holds at most this many characters.
constexpr int port_name_max_length = 79;

// Sets the name of the port that open_port opens ("COM2" by default).
// Returns 0, changing nothing, when the name is longer than
// port_name_max_length; 1 otherwise.
int set_port_name(const char* name);
const char* current_port_name();

// Opens and configures the port for a link mode. A port that cannot be
// opened is reported ("port open error" and, on the next line, why) and
// the program ends with exit code 1.
void open_port(int link_mode);
void close_port();

// One byte from the port with echo suppression: the byte 0..255, or -1 when
// the read failed or timed out.
int recv_raw(int timeout);

// After a damaged unit on a cable: discards what the line still carries
// until it stays silent for half a second (at most 8192 bytes), so that no
// byte of the damaged unit is taken for a control byte or the start of the
// next unit. Leaves link_failed as the drain found it: a time-out before
// the drain still ends the program, the drain's own silence does not.
// Nothing in link mode 2, where each unit arrives as a frame of its own.
struct DrainedBytes {
  int count = 0;  // bytes discarded
  int last = -1;  // the last of them, the one the line fell silent after
};
DrainedBytes drain_line();
// One byte to the port, remembered for echo suppression.
void send_raw(int timeout, std::uint8_t byte);

// Pauses for n × 6 ms.
void delay_ticks(int n);

// Returns the port layer to its start-up state: port closed, echo
// suppression on, "COM2", nothing pending. For tests that run many
// conversations in one process.
void reset_link_state();
