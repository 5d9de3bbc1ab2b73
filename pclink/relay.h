// Optical relay framing (link mode 2): each PC-link unit (one control byte
// or one Packet sent, one recv_byte or recv_packet) travels as the payload
// of one relay frame. The packet layer calls the hooks below around every
// unit; they do nothing unless relay_active is set.
//
// Principles of operation: the side with a frame to send announces it with
// an ENQ control block; the receiver grants it 18 ms later with a SYN block,
// then answers the frame with an ACK block, or a NAK block when the frame's
// checksum is wrong. Any irregularity restarts the exchange from the ENQ
// block. A silent line is retried for as long as a cable waits for a byte
// (10 s); a live device that keeps answering without a frame getting
// through, or a port that fails outright (unplugged, hung up), ends the
// program sooner. Each ends it with "TimeOut" and exit code 1, as on a
// cable. When the
// device announces a frame while we announce ours, we give way (see
// relay_send_frame in relay.cpp).
//
// The block formats are relay_framing.h's.
#pragma once

#include <cstdint>

// Receiving a unit: fetches the next frame into the relay unit buffer.
void begin_receive();
// Sending a unit: starts collecting it in the relay unit buffer.
void begin_send();
// Sending a unit: sends the collected bytes as one frame.
void end_send();

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

// Back to the start-up state, the relay unit buffer's included: nothing
// received, nothing kept. For tests that run many conversations in one
// process.
void reset_relay_state();
