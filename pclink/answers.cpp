// The device's answers to our units, and the damage around them.
#include "pclink/answers.h"

#include <bit>

#include "pclink/line_doubts.h"
#include "pclink/line_timing.h"
#include "pclink/packet.h"
#include "pclink/platform/console.h"
#include "pclink/serial_port.h"

namespace {

// Whether the answer just read came too soon for the Packet, on a port that
// keeps the line's pace; nine tenths of the nominal time leaves room for a
// line a little fast and for the clock's millisecond steps.
bool answered_too_soon(const PacketSent& packet) {
  if (relay_active || !line_paced() || packet.line_ms == 0) {
    return false;
  }
  return platform::monotonic_milliseconds() - packet.sent_at_ms < packet.line_ms * 9 / 10;
}

// Our Packet's last byte came back where the answer was due, or last among
// the bytes behind it, after an echo that bytes added on the way shifted:
// the device, misled by those bytes (a length field read from the wrong
// place), may still be reading a Packet that it refuses once its bytes stop
// coming. That answer is awaited; silence means the byte was the device's
// answer after all, and it is returned.
int answer_behind_late_echo(int byte) {
  const int next = recv_raw((device_patience_ms + unit_gap_ms()) / 10);
  if (next < 0) return byte;
  note_line_doubt();
  return next;
}

int nak_if_one_bit_off(int answer) {
  return std::popcount(static_cast<unsigned>(answer ^ NAK)) == 1 ? NAK : answer;
}

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
  const int last = drained.count > 0 ? drained.last : answer;
  if (may_be_late_echo_of_last_byte(last)) {
    // The last byte that came is our own: a NAK before it refused the
    // Packet, and without one the device's answer may be still to come.
    if (answer == NAK || refused_in_echo || drained.values.held(NAK)) return NAK;
    const int behind = answer_behind_late_echo(last);
    if (behind != last || behind == NAK) return nak_if_one_bit_off(behind);
  }
  if (drained.last == ACK || drained.last == NAK) return drained.last;
  if (refused_in_echo || drained.values.held(NAK)) return NAK;
  if (answer == ACK || answer == NAK) return answer;
  return nak_if_one_bit_off(answer);
}

// The answer the device gave with byte, told from the damage around it.
int judged_answer(int answer) {
  const PacketSent packet = take_packet_sent();
  // A byte that came before the Packet could have reached the device is a
  // stray one, or the answer to something the device made of part of it.
  if (answered_too_soon(packet)) {
    note_line_doubt();
  }
  // The device answers a Packet with one byte and falls silent: an answer
  // with bytes already behind it came from where our echo was still coming
  // back, and may be one of our own bytes.
  const bool answering_packet = packet.line_ms != 0;
  if (answering_packet && may_be_late_echo_of_last_byte(answer)) {
    return answer_among_damage(answer);
  }
  if ((answer == ACK || answer == NAK) && !(answering_packet && bytes_behind_last_read())) {
    return answer;
  }
  return answer_among_damage(answer);
}

// The answer to a Packet that filler bytes ended: the refusal they were
// sent for, or a doubt (the sum matched after all, or the answer was lost
// in damage), and the write is read back.
int weighed_answer(int answer) {
  if (filler_ended_unit() && answer != NAK) note_line_doubt();
  return answer;
}

}  // namespace

int recv_answer() {
  return weighed_answer(judged_answer(recv_byte()));
}

int recv_answer_or_silence() {
  if (relay_active) return recv_answer();
  const int byte = recv_raw(pclink_byte_timeout);
  return byte < 0 ? byte : weighed_answer(judged_answer(byte));
}
