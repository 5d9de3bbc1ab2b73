// The PC-link packet protocol as the host speaks it: its units, one control
// byte or one Packet, in and out. The handshakes built from them are
// conversation.h's.
//
// Principles of operation: all bytes move through link_read and link_write,
// so a silent device ends the program on a cable, and in link mode 2 each
// unit below travels in one relay frame.
//
// On a noisy line: a Packet the host refuses is drained off the line to its
// end before the host answers, so one NAK answers one damaged Packet and no
// byte of it is ever read as a control byte. Once a Packet's SOH has come,
// its other bytes must follow within the unit's time-out and without a gap
// (serial_port.h): a Packet cut short by a lost byte is refused the same way, while a device silent before
// the SOH still ends the program with "TimeOut" on a cable. Every repeat of
// a handshake is counted; a line so noisy that a unit needs more than
// handshake_repeat_limit repeats in a row ends the program with a message
// and exit code 2 rather than repeating for ever (run_endings.h).
//
// A Packet on the line: SOH, number (low 8 bits), its complement, payload
// length (16 bits, little-endian), payload, checksum16 of the payload
// (16 bits, little-endian).
#pragma once

#include <cstdint>

constexpr std::uint8_t SOH = 0x01;
constexpr std::uint8_t EOT = 0x04;
constexpr std::uint8_t ENQ = 0x05;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t NAK = 0x15;
constexpr std::uint8_t CAN = 0x18;

// Results of recv_packet besides a payload length.
constexpr int recv_eot = -1;        // EOT came instead of a Packet
constexpr int recv_bad_packet = -2; // format, complement, length or checksum error, or cut
                                    // short by a lost byte; drained off the line; answer
                                    // with NAK
constexpr int recv_too_long = -3;   // a whole, well-formed Packet longer than the buffer;
                                    // the excess was read off the line and dropped
constexpr int recv_repeated = -4;   // a whole Packet under the number before the one expected:
                                    // the device did not hear the ACK and sent it again
constexpr int recv_out_of_step = -5;  // a whole Packet under any other number

// The bytes of a Packet around its payload: SOH, number, complement, length
// and checksum.
constexpr int packet_framing_length = 7;

// A length field above this is taken for a damaged one: no device Packet is
// that long, and reading on would only wait for bytes that never come.
constexpr int longest_packet_read = 8192;

// What recv_packet found of a Packet it refused.
struct RefusedPacket {
  int line_length = 0;  // bytes the refused unit took on the line, the drained ones included
};

// The next byte of the PC-link stream, 0..255.
int recv_byte();
void send_control(std::uint8_t control);
// On a cable with echo: sends again the control byte that the device cannot
// have heard (unheard_control, serial_port.h), so that a byte the line
// damaged on its way costs a turnaround, not the device's silence and
// "TimeOut". At most a few times for one count of resends; false when there
// was none to send, or it went that often.
bool resend_unheard_control(int& resends);
// Reads until the byte b or CAN arrives; the caller is not told which. Any
// other byte is taken for the start of a damaged unit: the line is drained,
// and b or CAN as the last byte before the silence counts as arrived. An
// ENQ that a data train already took counts as arrived (once). A control
// byte of ours that the device never heard goes again.
void wait_for(std::uint8_t b);
// A data train took the device's ENQ after its EOT, to make sure the device
// had ended the train itself; the next wait for ENQ returns at once, unless
// the host sends a Packet first.
void note_closing_enq_taken();
// Forgets an ENQ taken that way. For tests that run many conversations in
// one process.
void reset_packet_state();

// Receives one Packet expecting the given number (compared in its low 8
// bits) into buffer, which holds capacity bytes. Returns the payload length
// or one of the recv_ results above; refused, if given, tells about a
// Packet refused as recv_bad_packet.
int recv_packet(std::uint8_t* buffer, int capacity, int number, RefusedPacket* refused = nullptr);
// Sends one Packet; always 1.
int send_packet(int n, int number, const std::uint8_t* payload);

// When the host's last Packet began to go out, and the least time the line
// needs to carry it whole: the device answers only after its last byte, so
// an answer read sooner was no answer to it. The host's clock can only make
// an answer look later than it came, never sooner.
struct PacketSent {
  std::int64_t sent_at_ms = 0;
  std::int64_t line_ms = 0;  // 0: no Packet awaits its answer
};
// The last Packet sent, while no answer to it was read; then forgotten.
PacketSent take_packet_sent();

// Buffer size of the library's own replies and file commands.
constexpr int work_buffer_size = 4096;
