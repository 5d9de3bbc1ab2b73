// Receiving the device's data trains.
#include "pclink/data_train.h"

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/line_doubts.h"
#include "pclink/link_stream.h"
#include "pclink/local_files.h"
#include "pclink/packet.h"
#include "pclink/platform/files.h"
#include "pclink/progress.h"
#include "pclink/relay.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"

namespace {

constexpr int tag_length = 3;

// Takes count bytes into the sink; false when they do not fit.
bool sink_take(TrainSink& sink, const std::uint8_t* bytes, int count) {
  if (count > sink.capacity - sink.stored) {
    return false;
  }
  if (sink.file == nullptr) {
    copy_block(count, sink.block + sink.stored, bytes);
  } else if (count > 0 && !sink.write_failed &&
             std::fwrite(bytes, 1, static_cast<std::size_t>(count), sink.file) != static_cast<std::size_t>(count)) {
    sink.write_failed = true;
  }
  sink.stored += count;
  return true;
}

// Whether an EOT read where a data Packet was due is the device's own: the
// device falls silent after it, waiting for our ACK. Bytes right behind it
// mean the SOH of a damaged Packet or a stray byte, with the device's Packet
// still on its way; only a second EOT (the byte doubled) leaves it the end.
// In link mode 2 the EOT came in a frame of its own, whose sum vouches for it.
bool eot_stands_alone() {
  DrainedBytes behind = drain_line();
  return behind.count == 0 || (behind.count == 1 && behind.last == EOT);
}

// The device answers a control byte at once: on a cable its next byte is
// awaited for a second, and -1 returned when none came. In link mode 2 the
// relay waits for the next frame as it does for any unit.
constexpr int control_answer_timeout = 100;

int byte_soon() {
  return relay_active ? recv_byte() : recv_raw(control_answer_timeout);
}

// After its EOT was acknowledged the device says with ENQ (or CAN) that it
// is idle again, and only then is the train's end beyond doubt: an EOT
// with silence behind it may still be the echo of our own ENQ, damaged on
// its way to a device that never began the train. A second EOT means our
// ACK was lost; so may silence, and the ACK goes again once (to a device
// that only lost its ENQ it is a stray byte it passes over). A single other
// byte followed by silence is the ENQ damaged on the way, the only byte an
// idle device sends here. Silence after the second ACK, or more than one
// byte, is a train that did not end as it seemed to.
void take_closing_enq() {
  int repeats = 0;
  bool acknowledged_again = false;
  for (;;) {
    int next = byte_soon();
    if (next == ENQ || next == CAN) {
      break;
    }
    if (next == EOT || (next < 0 && !acknowledged_again)) {
      count_repeat(repeats);
      acknowledged_again = acknowledged_again || next < 0;
      send_control(ACK);
      continue;
    }
    if (next < 0) {
      abandon_exchange(msg("train_end_unconfirmed"));
    }
    if (drain_line().count > 0) {
      abandon_exchange(msg("train_went_on"));
    }
    break;
  }
  note_closing_enq_taken();
}

// A data Packet that does not fit: the rest of the train is still
// acknowledged, so that the device finishes and goes back to idle, but only
// as far as a device told the room would ever go.
void note_past_room(bool& overflowed, int& past_room) {
  overflowed = true;
  if (++past_room > packets_past_room_limit) {
    abandon_exchange(msg("train_past_room"));
  }
}

// Counts a data Packet without data; a device that sends them one after
// another is not ending its train.
void note_data_length(int data_length, int& empty_in_a_row) {
  empty_in_a_row = data_length == 0 ? empty_in_a_row + 1 : 0;
  if (empty_in_a_row > empty_data_packets_limit) {
    abandon_exchange(msg("train_without_data"));
  }
}

// The rest of a train that lost a Packet: the device took an answer of ours
// for the next Packet's (an ACK doubled on the way, a NAK damaged into one)
// and will not send that Packet again. Every unit is answered with ACK,
// whatever came, so that the device ends the train and goes back to idle;
// nothing is stored. A device one Packet ahead of us takes each ACK for the
// Packet it sent last, and a NAK would only bring that one twice. Returns
// transfer_broken once the train's EOT and the closing ENQ are taken.
int finish_broken_train(int expected_number, const TrainSink& sink) {
  std::uint8_t work[work_buffer_size];
  int repeats = 0;
  int resends = 0;
  int empty_in_a_row = 0;
  long long brought = sink.stored;
  bool overflowed = false;
  int past_room = 0;
  for (;;) {
    const int length = recv_packet(work, work_buffer_size, expected_number);
    if (length == recv_eot && eot_stands_alone()) {
      send_control(ACK);
      take_closing_enq();
      return transfer_broken;
    }
    progress_mark(sink.stored);
    if (length == recv_bad_packet || length == recv_eot) {
      count_repeat(repeats);
      if (resend_unheard_control(resends)) continue;
    } else {
      repeats = 0;
      resends = 0;
      // Most likely the Packet after the one expected, or that one again:
      // numbers follow the device's.
      if (length != recv_repeated) ++expected_number;
    }
    send_control(ACK);
    if (length < tag_length) continue;
    // A device that never ends its train is given up here as well.
    note_data_length(length - tag_length, empty_in_a_row);
    brought += length - tag_length;
    if (brought > sink.capacity) note_past_room(overflowed, past_room);
  }
}

}  // namespace

bool restart_sink(TrainSink& sink) {
  if (sink.file != nullptr && !platform::empty_file(sink.file)) {
    return false;
  }
  sink.stored = 0;
  sink.write_failed = false;
  sink.eot_after_doubt = false;
  return true;
}

int receive_train(const char* data_tag, TrainSink& sink, const char* name) {
  std::uint8_t work[work_buffer_size];
  int expected_number = 1;
  bool overflowed = false;
  int repeats = 0;
  int resends = 0;
  int empty_in_a_row = 0;
  int past_room = 0;
  // The last answer was a NAK to a damaged Packet (a unit of more than one
  // byte): the device owes that Packet again, so an EOT now means it took
  // the NAK for an ACK and the Packet is lost.
  bool packet_owed = false;
  const long doubts_at_start = line_doubts();
  begin_progress(name, unknown_total);
  for (;;) {
    RefusedPacket refused;
    int length = recv_packet(work, work_buffer_size, expected_number, &refused);
    if (length == recv_eot && !eot_stands_alone()) {
      print_message(msg("packet_format_error"));
      length = recv_bad_packet;
      refused.line_length = 2;
    }
    progress_mark(sink.stored + (length > tag_length ? length - tag_length : 0));
    if (length == recv_bad_packet || length == recv_repeated) {
      count_repeat(repeats);
      // What came may be our own ENQ or ACK, damaged on the way and never
      // heard: it goes again, and the device owes nothing.
      if (length == recv_bad_packet && resend_unheard_control(resends)) {
        packet_owed = false;
        continue;
      }
      packet_owed = length == recv_bad_packet && refused.line_length > 1;
      // A repeat of the Packet already stored means the device missed its ACK.
      send_control(length == recv_bad_packet ? NAK : ACK);
      continue;
    }
    if (length == recv_out_of_step) {
      print_message(msg("packet_out_of_sequence"));
      send_control(ACK);
      return finish_broken_train(expected_number + 2, sink);
    }
    if (length == recv_eot && packet_owed) {
      // The train is over, without the Packet it owed.
      print_message(msg("eot_for_repeat"));
      send_control(ACK);
      take_closing_enq();
      return transfer_broken;
    }
    repeats = 0;
    resends = 0;
    packet_owed = false;
    ++expected_number;
    if (length == recv_eot) sink.eot_after_doubt = line_doubts() > doubts_at_start;
    send_control(ACK);  // the device's closing EOT is acknowledged here too
    if (length == recv_too_long) {
      note_past_room(overflowed, past_room);
      continue;
    }
    if (length < tag_length) {
      take_closing_enq();
      if (overflowed) {
        print_message(msg("too_large_for_buffer"), {name});
        print_message(msg("transfer_end"));
        return transfer_overflow;
      }
      print_message(msg("transfer_end"));
      return sink.stored;
    }
    if (reply_begins_with("ANG", work, length)) {
      print_message(msg("device_file_missing"), {name});
      return transfer_refused;
    }
    if (!reply_begins_with(data_tag, work, length)) {
      print_message(msg("packet_error"));
      print_message(msg("transfer_end"));
      return transfer_packet_error;
    }
    int data_length = length - tag_length;
    note_data_length(data_length, empty_in_a_row);
    if (overflowed || !sink_take(sink, work + tag_length, data_length)) {
      note_past_room(overflowed, past_room);
    }
  }
}
