// Packets and control bytes on the PC-link stream.
#include "pclink/packet.h"

#include <bit>
#include <cstring>

#include "pclink/checksum16.h"
#include "pclink/console.h"
#include "pclink/line_doubts.h"
#include "pclink/line_timing.h"
#include "pclink/link_stream.h"
#include "pclink/platform/console.h"
#include "pclink/relay.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"

int recv_byte() {
  begin_receive();
  std::uint8_t byte = 0;
  link_read(1, &byte);
  return byte;
}

void send_control(std::uint8_t control) {
  begin_send();
  link_write(1, &control);
  end_send();
}

namespace {

// Resends of one unheard control byte in a row: one damaged byte is the
// common case, a line that damages every copy is left to the caller's own
// limits.
constexpr int unheard_control_resends = 3;

}  // namespace

bool resend_unheard_control(int& resends) {
  const int control = unheard_control();
  if (control < 0 || resends >= unheard_control_resends) {
    return false;
  }
  ++resends;
  send_control(static_cast<std::uint8_t>(control));
  return true;
}

// A stray byte may be the start of a damaged unit; what follows it is
// discarded up to the silence in which the device waits for the host. The
// byte the device sent last before that silence is what it waits with.
namespace {

// A data train took the device's ENQ to make sure the train had ended.
bool closing_enq_taken = false;

// The last Packet sent, until its answer is read.
PacketSent last_packet;

}  // namespace

PacketSent take_packet_sent() {
  const PacketSent packet = last_packet;
  last_packet.line_ms = 0;
  return packet;
}

void note_closing_enq_taken() {
  closing_enq_taken = true;
}

void reset_packet_state() {
  closing_enq_taken = false;
  last_packet = {};
}

namespace {

// Whether the byte read where the device's control byte b belongs is b,
// damaged on the way: it came alone (the line fell silent right behind it),
// one bit from b, and our own last control byte reached the device. The
// device sends b once and then waits for us, so waiting on for a b that
// already came would only end in "TimeOut". A byte with company is a
// damaged unit or noise; one our unheard control byte would answer is
// not the device's (it goes again instead); and one bit keeps a stray byte
// on an idle line, while the device is still busy, from passing for b.
// Through the relay a byte comes in a checked frame and is what it is.
bool lone_damaged_control(int byte, std::uint8_t b, const DrainedBytes& drained) {
  return !relay_active && drained.count == 0 && unheard_control() < 0 &&
         std::popcount(static_cast<unsigned>(byte ^ b)) == 1;
}

}  // namespace

void wait_for(std::uint8_t b) {
  if (b == ENQ && closing_enq_taken) {
    closing_enq_taken = false;
    return;
  }
  int strays = 0;
  int resends = 0;
  for (;;) {
    int byte = recv_byte();
    if (byte != b && byte != CAN) {
      note_line_doubt();
      const DrainedBytes drained = drain_line();
      if (lone_damaged_control(byte, b, drained)) return;
      byte = drained.last;
    }
    if (byte == b || byte == CAN) {
      return;
    }
    count_repeat(strays);
    resend_unheard_control(resends);
  }
}

namespace {

// Drains the rest of a refused unit and tells the caller about it.
int refuse_packet(RefusedPacket found, RefusedPacket* refused) {
  note_line_doubt();
  note_damaged_arrival();
  found.line_length += drain_line().count;
  if (refused != nullptr) {
    *refused = found;
  }
  return recv_bad_packet;
}

// Reads the next n bytes of a Packet whose SOH has come, counting them in
// found; false when the Packet was cut short on the way.
bool read_in_packet(int n, std::uint8_t* destination, RefusedPacket& found) {
  int count = link_read_in_unit(n, destination);
  found.line_length += count;
  return count == n;
}

int little_endian_word(const std::uint8_t* bytes) {
  return bytes[0] + 256 * bytes[1];
}

int refuse_cut_packet(RefusedPacket found, RefusedPacket* refused) {
  print_message(msg("packet_cut_short"));
  return refuse_packet(found, refused);
}

}  // namespace

int recv_packet(std::uint8_t* buffer, int capacity, int number, RefusedPacket* refused) {
  begin_receive();
  RefusedPacket found{1};
  // The start may keep the host waiting the full byte time-out: the device
  // takes its time to answer. After it the Packet's bytes come back to back.
  std::uint8_t start = 0;
  link_read(1, &start);
  if (start == EOT) {
    return recv_eot;
  }
  if (start != SOH) {
    print_message(msg("packet_format_error"));
    return refuse_packet(found, refused);
  }
  link_expect_in_unit(4);  // number, complement, length
  std::uint8_t numbering[2] = {0, 0};
  if (!read_in_packet(2, numbering, found)) {
    return refuse_cut_packet(found, refused);
  }
  if (numbering[1] != static_cast<std::uint8_t>(~numbering[0])) {
    print_message(msg("packet_number_error"));
    return refuse_packet(found, refused);
  }
  std::uint8_t length_field[2] = {0, 0};
  if (!read_in_packet(2, length_field, found)) {
    return refuse_cut_packet(found, refused);
  }
  int length = little_endian_word(length_field);
  if (length > longest_packet_read) {
    print_message(msg("packet_length_error"));
    return refuse_packet(found, refused);
  }
  link_expect_in_unit(length + 2);  // payload and checksum
  // A payload longer than the buffer is still read whole, so the stream
  // stays in step with the device, but only what fits is kept.
  std::uint16_t sum = 0;
  for (int i = 0; i < length; ++i) {
    std::uint8_t byte = 0;
    if (!read_in_packet(1, &byte, found)) {
      return refuse_cut_packet(found, refused);
    }
    sum = static_cast<std::uint16_t>(sum + byte);
    if (i < capacity) {
      buffer[i] = byte;
    }
  }
  std::uint8_t checksum[2] = {0, 0};
  if (!read_in_packet(2, checksum, found)) {
    return refuse_cut_packet(found, refused);
  }
  // In link mode 2 a packet that runs past the end of its relay frame was
  // cut short; what follows it in the buffer is not the device's.
  if (little_endian_word(checksum) != sum || relay_frame_overrun()) {
    print_message(msg("packet_checksum_error"));
    return refuse_packet(found, refused);
  }
  std::uint8_t expected = static_cast<std::uint8_t>(number);
  if (numbering[0] != expected) {
    note_line_doubt();
    if (number > 1 && numbering[0] == static_cast<std::uint8_t>(number - 1)) {
      return recv_repeated;
    }
    print_message(msg("packet_number_error"));
    return recv_out_of_step;
  }
  if (length > capacity) {
    print_message(msg("packet_too_long"));
    return recv_too_long;
  }
  return length;
}

int send_packet(int n, int number, const std::uint8_t* payload) {
  // A Packet from the host starts a new exchange: an ENQ taken before it
  // belongs to an exchange that is over.
  closing_enq_taken = false;
  last_packet = {platform::monotonic_milliseconds(), line_time_ms(n + packet_framing_length)};
  begin_send();
  // The whole Packet in one write: on a USB adapter every write can become
  // a transfer of its own.
  static std::uint8_t unit[packet_framing_length + 0xFFFF];
  const std::uint8_t number_byte = static_cast<std::uint8_t>(number);
  const std::uint16_t sum = checksum16(n, payload);
  const std::uint8_t header[5] = {SOH, number_byte, static_cast<std::uint8_t>(~number_byte),
                                  static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>((n >> 8) & 0xFF)};
  std::memcpy(unit, header, sizeof header);
  if (n > 0) {
    std::memcpy(unit + sizeof header, payload, static_cast<std::size_t>(n));
  }
  unit[sizeof header + n] = static_cast<std::uint8_t>(sum & 0xFF);
  unit[sizeof header + n + 1] = static_cast<std::uint8_t>(sum >> 8);
  // The device refuses a Packet whose payload does not add up to its sum:
  // echo damage that would not, wherever it struck, is no doubt.
  expect_unit_check({n + packet_framing_length, static_cast<int>(sizeof header), static_cast<int>(sizeof header) + n});
  link_write(n + packet_framing_length, unit);
  end_send();
  return 1;
}
