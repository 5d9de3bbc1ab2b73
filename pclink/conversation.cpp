#include "pclink/conversation.h"

#include <cstring>

#include "pclink/answers.h"
#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/line_doubts.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/progress.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"

namespace {

const std::uint8_t* bytes_of(const char* text) {
  return reinterpret_cast<const std::uint8_t*>(text);
}

bool is_control_byte(int byte) {
  return byte == SOH || byte == EOT || byte == ENQ || byte == ACK || byte == NAK || byte == CAN;
}

}  // namespace

bool reply_begins_with(const char* answer, const std::uint8_t* payload, int length) {
  if (length < 0 || static_cast<std::size_t>(length) < std::strlen(answer)) {
    return false;
  }
  return has_prefix(answer, reinterpret_cast<const char*>(payload)) == 0;
}

int send_command(int n, const std::uint8_t* payload) {
  int repeats = 0;
  int answer = 0;
  for (;;) {
    send_packet(n, 1, payload);
    answer = recv_answer();
    if (answer != NAK) {
      break;
    }
    count_repeat(repeats);
  }
  repeats = 0;
  for (;;) {
    send_control(EOT);
    answer = recv_answer();
    // Our EOT, damaged on the way, was never heard: it goes again, as after
    // a NAK.
    if (answer != NAK && (answer == ACK || unheard_control() < 0)) {
      break;
    }
    count_repeat(repeats);
  }
  return answer;
}

int send_write_packet(int n, const std::uint8_t* payload, int number, const WriteRules& rules, int* silent_number) {
  int repeats = 0;
  for (;;) {
    if (rules.marked_done != no_progress_mark) {
      progress_mark(rules.marked_done);
    }
    send_packet(n, number, payload);
    const int answer = recv_answer();
    if (rules.silence_may_end_train && take_link_silence()) {
      if (silent_number != nullptr) *silent_number = number;
      return device_ended_train;
    }
    if (answer != NAK) {
      return number + 1;
    }
    note_refused_packet();
    count_repeat(repeats);
    if (rules.repeat == RepeatNumber::next) {
      ++number;
    }
  }
}

WriteWatch watch_write() {
  return {line_doubts(), refused_packets()};
}

bool write_proven(const WriteWatch& since) {
  // Through the relay each byte's parity and each frame's own sum catch a
  // bit flipped on the way, and an echo shows the damage: only a cable
  // without echo leaves the refusals alone to tell of it.
  const bool damage_unseen =
      !echo_enabled && !relay_active && refused_packets() - since.refused >= units_damaged_for_second_look;
  return line_doubts() == since.doubts && !damage_unseen;
}

int end_write_train(std::uint8_t* buffer, int capacity) {
  int repeats = 0;
  bool enq_passed_over = false;
  for (;;) {
    send_control(EOT);
    // Silence, or an ACK that may be our own EOT damaged into one on its
    // way: the ENQ tells a device that heard the EOT (it answers) from one
    // that did not (it passes over the ENQ and gets the EOT again).
    const int answer = recv_answer_or_silence();
    if (answer < 0 || (answer == ACK && unheard_control() == EOT)) {
      note_line_doubt();
      if (device_left_train()) {
        return take_reply(buffer, capacity);
      }
      // Deaf to the EOT again, as to the ENQ: the device is gone, or in a
      // state that no unit of ours ends.
      if (enq_passed_over) timeout_exit();
      enq_passed_over = true;
      count_repeat(repeats);
      continue;
    }
    if (answer == ACK) {
      break;
    }
    note_line_doubt();
    // No byte of the protocol, to an EOT the device heard: its ACK, damaged
    // on the way. The device now waits for our ENQ and would pass over a
    // second EOT in silence.
    if (!is_control_byte(answer) && unheard_control() < 0) {
      break;
    }
    count_repeat(repeats);
  }
  return recv_reply(buffer, capacity);
}

bool device_left_train() {
  send_control(ENQ);
  return device_begins_to_answer();
}

int recv_reply(std::uint8_t* buffer, int capacity) {
  send_control(ENQ);
  return take_reply(buffer, capacity);
}

int take_reply(std::uint8_t* buffer, int capacity) {
  int repeats = 0;
  int result = recv_packet(buffer, capacity, 1);
  // A reply under another number is as damaged as one with a wrong
  // checksum: a command's reply is always Packet 1.
  int resends = 0;
  while (result == recv_bad_packet || result == recv_out_of_step) {
    count_repeat(repeats);
    // What came may be our own ENQ or NAK, damaged on the way and never
    // heard: then it goes again; a NAK would ask for nothing.
    if (!resend_unheard_control(resends)) {
      send_control(NAK);
    }
    result = recv_packet(buffer, capacity, 1);
  }
  send_control(ACK);
  wait_for(EOT);
  send_control(ACK);
  return result;
}

int request_service(const char* command_word, std::uint8_t* buffer, int capacity) {
  send_command(3, bytes_of(command_word));
  int length = recv_reply(buffer, capacity);
  if (!reply_begins_with("DOK", buffer, length)) {
    print_message(msg("not_connected"));
    return 0;
  }
  return 1;
}

int connect_device(std::uint8_t* buffer, int capacity) {
  return request_service("CFV", buffer, capacity);
}

int reset_device() {
  std::uint8_t buffer[work_buffer_size];
  send_command(3, bytes_of("CLE"));
  int length = recv_reply(buffer, work_buffer_size);
  if (!reply_begins_with("DOK", buffer, length)) {
    print_message(msg("reset_failed"));
    return 0;
  }
  return 1;
}

void await_enq() {
  wait_for(ENQ);
}
