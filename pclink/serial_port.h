// The serial port: one RS-232 line per process, moved a unit at a time.
//
// Principles of operation: a unit (a Packet, a control byte, a relay block)
// goes out in one write; a read waits for the bytes a unit still needs, not
// for each byte, under a time-out counted in hundredths of a second for the
// first byte of an answer (1000 for each PC-link answer on a cable, 100, 50
// and 40 inside the optical relay framing) and, inside a unit, under waits
// that scale with the line (line_timing.h). Sent units pass echo
// suppression (echo.h) on the way. A port that fails outright sets
// port_failed (serial_port_bytes.h); on a cable the next PC-link transfer
// (link_stream.h) then prints "TimeOut" and ends the program with exit code
// 1, as it does after a byte that did not come. In link mode 2 the PC-link
// bytes go to and from the relay unit buffer instead, and the relay framing
// carries them to the line through this layer.
#pragma once

#include <cstdint>

#include "pclink/echo.h"

// Link modes chosen with -s: the low two bits of the digit after "-s".
constexpr int link_mode_cable_9600 = 0;
constexpr int link_mode_cable_19200 = 1;
constexpr int link_mode_relay = 2;
constexpr int default_link_mode = link_mode_cable_19200;

// Time-outs in hundredths of a second.
constexpr int pclink_byte_timeout = 1000;

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
// Whether the port carries bytes at the rate it was opened with
// (platform::line_keeps_pace): only then does the time an answer took tell
// anything.
bool line_paced();
void close_port();

// The next byte from the line that is not the echo of ours: 0..255, or -1
// when none came within the time-out (from the call, the echo's wait
// included) or the port failed. unit_length, when known: how many bytes
// the unit it begins has at least. With an echo pending they are awaited
// together with it, within the echo's time-out, and recv_unit and
// recv_ahead find them buffered.
int recv_raw(int timeout, int unit_length = 0);
// Whether recv_raw, since the last unit went out, made up for bytes of it
// that never reached the device with filler bytes: the device then refuses
// the unit, and any other answer may have stored the filler.
bool filler_ended_unit();
// Whether byte came in the place of an echo byte the last recv_raw took
// off the line, differing from it and from our own bytes near that place.
// On a cable the device's answer can be such a byte: noise on the way to
// the device can make it end our Packet before we did and answer while the
// echo of our last bytes is still coming back. Never in link mode 2, whose
// echo is of relay blocks.
bool echo_place_held(std::uint8_t byte);
// Whether byte, read where the device's answer was due or behind it, may be
// the echo of the last byte of our last unit, come late for the same
// reason: the echo came back irregular, and byte is that last byte. Never
// without echo, nor in link mode 2.
bool may_be_late_echo_of_last_byte(int byte);
// The control byte we sent last when the device cannot have heard it: its
// echo came back as another byte, which recv_raw handed on after the device
// stayed silent for a turnaround, and nothing has come since. The line
// damaged it on the way, and the device still waits for it. -1 otherwise:
// the device answered, or our last unit was no control byte. Never in link
// mode 2 or without echo suppression.
int unheard_control();
// Whether bytes came right behind the one recv_raw handed on last, on a
// cable: after an echo that did not come back as sent, within the silence
// that ends a drain.
bool bytes_behind_last_read();
// Whether the device begins to send within the line's time-out, behind the
// echo of our last unit, on a cable: what came is left for recv_raw. For a
// question the device may pass over in silence.
bool device_begins_to_answer();

// The bytes of a unit whose first byte has come: up to n more, awaited
// together within the unit's own time-out (twice their time on the line and
// a gap), a silence of a gap inside them cutting the unit short. Returns how
// many came; fewer than n when the unit stopped coming or was too slow.
// damaged, if given, tells whether any of them came with a parity or
// framing error.
int recv_unit(std::uint8_t* destination, int n, bool* damaged = nullptr);
// Whether a byte that recv_raw or recv_unit handed on since the last call
// came with a parity or framing error, or as a break; the call forgets it.
// In link mode 2, where the parity is checked, a block with such a byte is
// line damage whatever its sum says.
bool received_damage();
// Fetches the next n bytes of a unit under way from the line as recv_unit
// does, leaving them for recv_raw and recv_unit to take, so that a unit
// read a byte at a time still costs one wait. Returns how many are there.
int recv_ahead(int n);

// Discards what the line carries until it falls silent (a few byte times
// and the adapter's latency), at most byte_limit bytes and their time on
// the line, so that no byte of a damaged unit is taken for the start of the
// next. In every link mode.
struct DrainedBytes {
  int count = 0;  // bytes discarded
  int last = -1;  // the last of them, the one the line fell silent after
  ByteValues values;  // which byte values were among them
};
DrainedBytes discard_until_silence(int byte_limit);

// After a damaged unit on a cable: discard_until_silence of up to 8192
// bytes. Nothing in link mode 2, where each unit arrives as a frame of its
// own.
DrainedBytes drain_line();

// One unit to the port in one write, remembered for echo suppression (also
// when the write failed: the relay framing resends whole blocks). False
// when the line did not take it within timeout hundredths of a second and
// its time on the line, or the port failed.
bool send_unit(const std::uint8_t* bytes, int n, int timeout);
// As send_unit, for a unit after which we wait for nothing (a relay's ACK
// block for a frame received): it goes out in one write with the next unit
// sent, or alone before the next read, pause or close.
void send_unit_with_next(const std::uint8_t* bytes, int n, int timeout);

// Whether nothing at all has come from the line in this run, on a port that
// did not fail: the device never answered, nor did the line echo.
bool line_never_answered();

// Pauses for n × 6 ms.
void delay_ticks(int n);

// Returns the port layer to its start-up state: port closed, echo
// suppression on, "COM2", nothing pending. For tests that run many
// conversations in one process.
void reset_link_state();
// Its part that concerns units on the line (all but the port, its name and
// link mode): reset_link_state's.
void reset_unit_state();
