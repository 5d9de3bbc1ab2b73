// The PC-link packet protocol as the host speaks it.
//
// Principles of operation: the host starts every exchange. A command goes
// out as Packet number 1 and is closed with EOT; the device accepts each
// with one byte, and a NAK makes the host send the same thing again, without
// limit. The host asks for the reply with ENQ, acknowledges the reply Packet
// and the EOT that follows it, and the device then announces with ENQ that
// it is ready for the next command. All bytes move through link_read and
// link_write, so a silent device ends the program on a cable, and in link
// mode 2 each unit below travels in one relay frame.
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
constexpr int recv_bad_packet = -2; // format, number or checksum error; answer with NAK
constexpr int recv_too_long = -3;   // a whole, well-formed Packet longer than the buffer;
                                    // the excess was read off the line and dropped

// Sum of the bytes, each 0..255, modulo 65536.
std::uint16_t checksum16(int n, const std::uint8_t* bytes);

// The next byte of the PC-link stream, 0..255.
int recv_byte();
// The next two bytes as a 16-bit little-endian value.
int recv_word();
void send_control(std::uint8_t control);
// Reads until the byte b or CAN arrives; the caller is not told which.
void wait_for(std::uint8_t b);

// Receives one Packet expecting the given number (compared in its low 8
// bits) into buffer, which holds capacity bytes. Returns the payload length,
// recv_eot, recv_bad_packet or recv_too_long.
int recv_packet(std::uint8_t* buffer, int capacity, int number);
// Sends one Packet; always 1.
int send_packet(int n, int number, const std::uint8_t* payload);

// Sends a command as Packet 1 and closes it with EOT, each repeated while the
// device answers NAK. Returns the last byte the device sent (normally ACK).
int send_command(int n, const std::uint8_t* payload);
// Asks for the device's reply and completes its handshake; the payload is
// left in buffer (capacity bytes). Returns what recv_packet returned.
int recv_reply(std::uint8_t* buffer, int capacity);

// Whether a received payload of the given length (a recv_packet result)
// begins with answer, such as "DOK". A damaged, missing or short reply never
// matches, even when the buffer still holds an earlier reply.
bool reply_begins_with(const char* answer, const std::uint8_t* payload, int length);

// The opening exchange of a device service: the three-letter command word,
// then the reply, which must begin with "DOK". Prints the not-connected
// message and returns 0 otherwise; 1 on consent.
int request_service(const char* command_word, std::uint8_t* buffer, int capacity);
// request_service with "CFV", the connection request.
int connect_device(std::uint8_t* buffer, int capacity);
// The reset command "CLE". Prints "リセットに失敗しました" when the device does not
// answer "DOK". Returns 1 when it did, 0 otherwise.
int reset_device();
// Takes the device's closing ENQ (or CAN) off the line.
void await_enq();

// Buffer size of the library's own replies and file commands.
constexpr int work_buffer_size = 4096;
