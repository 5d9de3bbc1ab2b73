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

// When the host's last Packet began to go out on a cable, and the least
// time the line needs to carry it whole: the device answers only after its
// last byte, so an answer read sooner was no answer to it. The host's
// clock can only make an answer look later than it came, never sooner.
struct PacketOnTheLine {
  std::int64_t sent_at_ms = 0;
  std::int64_t line_ms = 0;
} last_packet;

// Whether the answer just read came too soon for the Packet, on a port that
// keeps the line's pace; nine tenths of the nominal time leaves room for a
// line a little fast and for the clock's millisecond steps.
bool answered_too_soon() {
  if (relay_active || !line_paced() || last_packet.line_ms == 0) {
    return false;
  }
  return platform::monotonic_milliseconds() - last_packet.sent_at_ms < last_packet.line_ms * 9 / 10;
}

}  // namespace

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

// The device's answer, when the byte read for it was damage: a NAK among
// the bytes that came around it is a refusal, whatever else came.
//
// Noise that added bytes on the way can make the device end our Packet
// early and refuse it while our last bytes are still being echoed: its NAK
// then came among the echo's bytes, or among those drained after what we
// took for the answer, which is the echo of one of our last bytes. A NAK
// with one bit flipped on the way back is one bit from NAK and three from
// ACK. The Packet goes again; the doubt stays, so that a NAK that was only
// a damaged echo byte, or one of our own bytes, shows in the read-back.
int answer_among_damage(int answer) {
  note_line_doubt();
  const bool refused_in_echo = echo_place_held(NAK);
  const DrainedBytes drained = drain_line();
  // A NAK read with our own last byte echoed behind it: that byte is no ACK.
  const bool echo_last = answer == NAK && may_be_late_echo_of_last_byte(drained.last);
  if ((drained.last == ACK || drained.last == NAK) && !echo_last) return drained.last;
  if (refused_in_echo || drained.values.held(NAK)) return NAK;
  if (answer == ACK || answer == NAK) return answer;
  return std::popcount(static_cast<unsigned>(answer ^ NAK)) == 1 ? NAK : answer;
}

}  // namespace

int recv_answer() {
  int answer = recv_byte();
  // A byte that came before the Packet could have reached the device is a
  // stray one, or the answer to something the device made of part of it.
  if (answered_too_soon()) {
    note_line_doubt();
  }
  // The device answers a Packet with one byte and falls silent: an answer
  // with bytes already behind it came from where our echo was still coming
  // back, and may be one of our own bytes.
  const bool answering_packet = last_packet.line_ms != 0;
  last_packet.line_ms = 0;
  if ((answer == ACK || answer == NAK) && !(answering_packet && bytes_behind_last_read())) {
    return answer;
  }
  return answer_among_damage(answer);
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
  link_write(n + packet_framing_length, unit);
  end_send();
  return 1;
}
