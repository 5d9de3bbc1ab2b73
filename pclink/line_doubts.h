// Doubts about the line: what the host saw that a clean exchange never
// shows. A byte where an answer or a unit should start, an answer that is
// neither ACK nor NAK, an echo that came back other than it went, a unit
// refused as damaged, a relay frame that went out whole without its ACK
// block. Each is counted where it is seen; a write whose handshake had none
// between its first Packet and the device's confirmation is proven by it,
// any other write is read back before it counts as done.
#pragma once

// Counts one more.
void note_line_doubt();
// How many in the run so far; a write compares the count before and after.
long line_doubts();
// Counts from zero again, for another run in the same process (the tests).
void reset_line_doubts();

// The device's units that reached the host damaged and were refused (a
// Packet, or a relay frame): the line changes bytes on the way to the host.
// Its sums caught these; a fetch that met two or more is read again, since
// a line that damages that often also flips two bits alike in one Packet
// now and then, which no sum shows.
void note_damaged_arrival();
long damaged_arrivals();

// How many damaged or refused units in one transfer call for its second
// look (a fetch or a list read again, a write read back).
constexpr long units_damaged_for_second_look = 2;

// Our Packets the device refused as damaged (a NAK): the line changes bytes
// on the way to the device. Where no echo shows the host what reached it,
// a write that met two or more is read back, for the same reason.
void note_refused_packet();
long refused_packets();
