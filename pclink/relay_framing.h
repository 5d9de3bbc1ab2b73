// Optical relay block formats (link mode 2): the control blocks and data
// frames that carry PC-link units over the relay adapter, as they go out and
// as a receiver finds them. The handshake that exchanges them is relay.h's.
//
// A control block: 00 00 00 00 00 96 82 code.
// A frame: 00 00 00 00 00 96 81 10, frame number (16 bits, little-endian,
// always 0xFFFF from us), 01 40 FE, payload length (16 bits, little-endian),
// payload, checksum16 of the payload (16 bits, little-endian). A receiver
// finds a block by a run of at least two zero bytes followed by 0x96.
//
// Every block goes out in one write (send_unit) and every byte comes in
// through recv_raw, so echo suppression applies to blocks as to any other
// bytes; a block or frame being read is fetched from the line as a whole
// where its length is known (recv_ahead). A transfer that
// fails outright (the port is gone) ends the run at once with "TimeOut", as
// on a cable, before the framing could retry it at full speed; a time-out
// never does.
#pragma once

#include <cstdint>

// Codes of the relay control blocks.
constexpr std::uint8_t relay_enq = 0x05;  // a frame is waiting
constexpr std::uint8_t relay_syn = 0x16;  // send the frame now
constexpr std::uint8_t relay_ack = 0x06;  // frame accepted
constexpr std::uint8_t relay_nak = 0x15;  // frame checksum wrong; send again

// The frame number we send, and the one accepted whatever number is expected.
constexpr int relay_any_frame_number = 0xFFFF;

// Looking for a block, and a frame's header bytes, in hundredths of a second.
constexpr int relay_hunt_timeout = 50;

// What became of a frame the device announced and we granted.
enum class Grant { taken, unanswered, wrong_kind, wrong_number, too_long, damaged };

// Sends one control block.
void send_relay_control(std::uint8_t code);
// Sends one control block in the same write as the next unit, or alone
// before we next wait for the line: for the ACK block of a frame taken.
void send_relay_control_with_next(std::uint8_t code);
// Hunts for the next control block, passing over anything else (data frames
// included): its code, or -1 after a silence of 0.5 s.
int recv_relay_control();

// Reads up to the mark of the next block: a run of at least two zero bytes,
// then 0x96. Up to three of the five zero bytes sent may be lost on the way.
// Each byte before a run is awaited for first_timeout; a silence there gives
// false. block_length: the bytes the block looked for has at least, its
// mark included, awaited together with the echo of ours.
bool find_block_start(int first_timeout, int block_length);
// The fewest bytes a data frame arrives in: its 17 bytes of framing, less
// the three sync zeros that may be lost, and one payload byte.
constexpr int shortest_frame_received = 15;
// Reads the frame after its mark into buffer (capacity bytes): taken, with
// its payload length in length, or why not (wrong_kind, wrong_number,
// too_long, damaged). A frame numbered 0xFFFF or expected is taken. A frame
// whose bytes stop coming is abandoned at its first time-out, and a length
// above capacity is refused before the payload.
Grant read_frame(std::uint8_t* buffer, int capacity, int expected, int& length);
// Discards what is left of a refused frame (bytes until a short silence, at
// most twice the longest frame), so that none of its bytes can be read as
// the start of a block.
void drain_refused_frame();
// Sends the data frame of n payload bytes under number, from its sync bytes
// to its checksum.
void send_frame_body(int n, int number, const std::uint8_t* payload);
