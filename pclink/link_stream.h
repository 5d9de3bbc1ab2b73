// The PC-link byte stream, by cable or through the relay: the one place
// that chooses between them. On a cable the bytes go straight to and from
// the port layer; in link mode 2 (relay_active) they go to and from the
// relay unit buffer, which holds one PC-link unit: the one being collected
// for sending, or the payload of the frame received last. The relay layer
// (relay.h) fills that buffer from the line and sends what was collected.
#pragma once

#include <cstdint>

// The cable line failed: a PC-link byte did not come within its time-out,
// a unit could not be written, or the port failed. Set by the transfers
// below; the next one then prints "TimeOut" and ends the program with exit
// code 1. Never set in link mode 2, whose framing retries.
extern bool link_failed;

// n bytes of the PC-link stream in or out; a unit written goes out in one
// write. On a cable a byte that did not come reads as 0xFF and the next
// transfer ends the program ("TimeOut", exit code 1).
void link_read(int n, std::uint8_t* destination);
void link_write(int n, const std::uint8_t* source);
// The byte awaited last did not come on a cable whose port is sound: the
// failure is withdrawn and true returned, for a caller that still has a
// question to ask the device before the silence may end the program.
// False, with nothing changed, when the line did not fail so or the port
// itself failed.
bool take_link_silence();
// The rest of a unit whose first byte has come: up to n bytes, awaited
// together within the unit's time-out (serial_port.h). Returns how many
// came; fewer than n when the unit stopped coming, cut short by a lost
// byte. That silence is the unit's, not the line's: link_failed is left
// clear, unless the port itself failed. In link mode 2 the bytes come from
// the relay frame, always n.
int link_read_in_unit(int n, std::uint8_t* destination);
// The next n bytes of a unit under way are due: on a cable they are
// fetched from the line at once, for the link_read_in_unit calls that take
// them, so that a unit read in several pieces costs one wait. Nothing in
// link mode 2, where the frame holds the whole unit.
void link_expect_in_unit(int n);

// The relay unit buffer's size: one unit going out, or the payload of the
// last frame received.
constexpr int relay_buffer_size = 4096;

// The buffer itself, relay_buffer_size bytes, for the relay layer.
std::uint8_t* relay_unit_buffer();
// A unit to send begins: the buffer is emptied for link_write to fill.
void start_relay_unit();
// The bytes link_write has collected since start_relay_unit.
int relay_unit_length();
// The relay layer has put the payload of a received frame, length bytes,
// in the buffer: link_read hands them out from the first. A read past their
// end yields 0xFF bytes and marks the frame as overrun.
void relay_unit_received(int length);
// Whether the packet layer has read past the end of the frame received last:
// what it read is then not a whole packet from the device.
bool relay_frame_overrun();

// Nothing collected, nothing received: the start-up state.
void reset_link_stream();
