// Optical relay framing (link mode 2): each PC-link unit (one control byte
// or one Packet sent, one recv_byte or recv_packet) travels as the payload
// of one relay frame. The packet layer calls the hooks below around every
// unit; they do nothing unless relay_active is set.
//
// Principles of operation: the side with a frame to send announces it with
// an ENQ control block; the receiver grants it 18 ms later with a SYN block,
// then answers the frame with an ACK block, or a NAK block when the frame's
// checksum is wrong. Any irregularity restarts the exchange from the ENQ
// block. A silent line is retried without limit: the program waits instead
// of ending with "TimeOut". But a live device that keeps answering without a
// frame getting through, or a port that fails outright (unplugged, hung up),
// ends the program with "TimeOut" and exit code 1, as on a cable. When the
// device announces a frame while we announce ours, we give way (see
// relay_send_frame in relay.cpp).
//
// A control block: 00 00 00 00 00 96 82 code.
// A frame: 00 00 00 00 00 96 81 10, frame number (16 bits, little-endian,
// always 0xFFFF from us), 01 40 FE, payload length (16 bits, little-endian),
// payload, checksum16 of the payload (16 bits, little-endian). A receiver
// finds a block by a run of at least two zero bytes followed by 0x96.
#pragma once

#include <cstdint>

// Codes of the relay control blocks.
constexpr std::uint8_t relay_enq = 0x05;  // a frame is waiting
constexpr std::uint8_t relay_syn = 0x16;  // send the frame now
constexpr std::uint8_t relay_ack = 0x06;  // frame accepted
constexpr std::uint8_t relay_nak = 0x15;  // frame checksum wrong; send again

// The frame number we send, and the one accepted whatever number is expected.
constexpr int relay_any_frame_number = 0xFFFF;

// Holds one unit going out or the payload of the last frame received.
constexpr int relay_buffer_size = 4096;

// Receiving a unit: fetches the next frame into the relay buffer.
void begin_receive();
// Sending a unit: starts collecting it in the relay buffer.
void begin_send();
// Sending a unit: sends the collected bytes as one frame.
void end_send();

// The relay path of link_read and link_write. A read past the end of the
// frame received last yields 0xFF bytes and marks the frame as overrun.
void relay_read(int n, std::uint8_t* destination);
void relay_write(int n, const std::uint8_t* source);
// Whether the packet layer has read past the end of the frame received last:
// what it read is then not a whole packet from the device.
bool relay_frame_overrun();

// Sends one control block.
void send_relay_control(std::uint8_t code);
// Hunts for the next control block, passing over anything else (data frames
// included): its code, or -1 after a silence of 0.5 s.
int recv_relay_control();
// Sends one frame of n payload bytes, repeating the whole exchange from its
// ENQ block until the receiver acknowledges it. A frame the device sends
// instead, in answer to ours, is kept for the next begin_receive. Returns 1.
int relay_send_frame(int n, int number, const std::uint8_t* payload);
// Receives one good frame numbered 0xFFFF or expected into buffer, which
// holds capacity bytes; a longer frame is refused like a damaged one. A
// refused frame is drained off the line before it is answered, and one whose
// bytes stop coming is abandoned at the first time-out. Returns the payload
// length.
int relay_recv_frame(std::uint8_t* buffer, int capacity, int expected);

// Back to the start-up state: nothing received, nothing kept. For tests that
// run many conversations in one process.
void reset_relay_state();
