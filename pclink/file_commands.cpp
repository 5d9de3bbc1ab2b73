// Reading and writing device files: the request Packets and the data trains.
#include "pclink/file_commands.h"

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/link_stream.h"
#include "pclink/local_files.h"
#include "pclink/packet.h"
#include "pclink/progress.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"

namespace {

// The capacity field of the read request is three bytes wide.
constexpr int largest_announced_capacity = 0xFFFFFF;

constexpr int tag_length = 3;

// The file service takes a write Packet with any answer but NAK, and every
// transmission, a repeat included, takes the next number.
constexpr WriteRules file_service_write{WriteTaken::unless_nak, RepeatNumber::next};

// After the train's EOT the device announces with ENQ (or CAN) that it is
// idle again. Anything else means that EOT was not the device's end: a byte
// of a damaged unit, or the host's own echo, and the train goes on without us.
void confirm_train_end() {
  int next = recv_byte();
  if (next != ENQ && next != CAN) {
    abandon_exchange(msg("eot_inside_train"));
  }
  note_closing_enq_taken();
}

// Receives the device's data Packets up to its EOT, acknowledging each.
// Once the data no longer fits, the rest of the train is still acknowledged
// to its end, so that the device finishes and goes back to idle.
ReceivedTrain receive_train(const char* data_tag, std::uint8_t* destination, int capacity, const char* name) {
  std::uint8_t work[work_buffer_size];
  int expected_number = 1;
  int stored = 0;
  bool overflowed = false;
  int repeats = 0;
  // The last answer was a NAK to a damaged Packet (a unit of more than one
  // byte): the device owes that Packet again, so an EOT now means it took
  // the NAK for an ACK and the Packet is lost.
  bool packet_owed = false;
  begin_progress(name, unknown_total);
  for (;;) {
    RefusedPacket refused;
    int length = recv_packet(work, work_buffer_size, expected_number, &refused);
    progress_mark(stored + (length > tag_length ? length - tag_length : 0));
    if (length == recv_bad_packet || length == recv_repeated) {
      count_repeat(repeats);
      packet_owed = length == recv_bad_packet && refused.line_length > 1;
      // A repeat of the Packet already stored means the device missed its ACK.
      send_control(length == recv_bad_packet ? NAK : ACK);
      continue;
    }
    if (length == recv_out_of_step) {
      abandon_exchange(msg("packet_out_of_sequence"));
    }
    if (length == recv_eot && packet_owed) {
      abandon_exchange(msg("eot_for_repeat"));
    }
    repeats = 0;
    packet_owed = false;
    ++expected_number;
    send_control(ACK);  // the device's closing EOT is acknowledged here too
    if (length == recv_too_long) {
      overflowed = true;
      continue;
    }
    if (length < tag_length) {
      confirm_train_end();
      if (overflowed) {
        print_message(msg("too_large_for_buffer"), {name});
        print_message(msg("transfer_end"));
        return {transfer_overflow, stored};
      }
      print_message(msg("transfer_end"));
      return {stored, stored};
    }
    if (reply_begins_with("ANG", work, length)) {
      print_message(msg("device_file_missing"), {name});
      return {transfer_refused, stored};
    }
    if (!reply_begins_with(data_tag, work, length)) {
      print_message(msg("packet_error"));
      print_message(msg("transfer_end"));
      return {transfer_packet_error, stored};
    }
    int data_length = length - tag_length;
    if (overflowed || data_length > capacity - stored) {
      overflowed = true;
      continue;
    }
    copy_block(data_length, destination + stored, work + tag_length);
    stored += data_length;
  }
}

}  // namespace

bool request_name_fits(const char* name, int max_length) {
  // In link mode 2 the whole Packet, framing and all, travels in one relay
  // frame, which holds less than the work buffer plus that framing.
  int room = relay_active ? relay_buffer_size - packet_framing_length : work_buffer_size;
  if (text_length(name) <= max_length - (work_buffer_size - room)) {
    return true;
  }
  print_message(msg("request_name_too_long"), {name});
  return false;
}

void await_closing_enq(int command_result) {
  if (command_result != transfer_not_started) {
    await_enq();
  }
}

ReceivedTrain fetch_train(const char* service_word, const std::uint8_t* request, int request_length,
                          const char* data_tag, std::uint8_t* destination, int capacity,
                          const char* name) {
  std::uint8_t reply[work_buffer_size];
  if (!request_service(service_word, reply, work_buffer_size)) {
    return {transfer_refused, 0};
  }
  wait_for(ENQ);
  send_command(request_length, request);
  send_control(ENQ);
  return receive_train(data_tag, destination, capacity, name);
}

int get_file(int capacity, std::uint8_t* destination, const char* name) {
  if (!request_name_fits(name, read_name_max_length)) {
    return transfer_not_started;
  }
  int name_length = text_length(name);
  int announced = capacity < 0 ? 0 : capacity > largest_announced_capacity ? largest_announced_capacity : capacity;
  // "RFV", the capacity as three raw bytes (0x00 among them, so the request
  // goes by its length, never as a string), "S1:", the name and its NUL.
  std::uint8_t request[work_buffer_size];
  copy_block(tag_length, request, "RFV");
  request[3] = static_cast<std::uint8_t>(announced & 0xFF);
  request[4] = static_cast<std::uint8_t>((announced >> 8) & 0xFF);
  request[5] = static_cast<std::uint8_t>((announced >> 16) & 0xFF);
  copy_string(copy_string(reinterpret_cast<char*>(request + 6), "S1:"), name);
  return fetch_train("CFV", request, name_length + 10, "AFV", destination, announced, name).result;
}

int put_file(int size, const std::uint8_t* source, const char* name) {
  if (!request_name_fits(name, write_name_max_length)) {
    return transfer_not_started;
  }
  int name_length = text_length(name);
  if (size < 0) {
    return transfer_not_started;
  }
  std::uint8_t work[work_buffer_size];
  if (!request_service("CFD", work, work_buffer_size)) {
    return transfer_refused;
  }
  wait_for(ENQ);
  int next_number = 1;
  copy_string(copy_string(reinterpret_cast<char*>(work), "RFDS1:"), name);
  next_number = send_write_packet(name_length + 7, work, next_number, file_service_write);
  // The last data Packet always carries fewer than 253 bytes, so a size
  // that is a multiple of 253 (0 included) ends with a bare "RFD".
  int sent = 0;
  int data_length = 0;
  begin_progress(name, size);
  do {
    data_length = size - sent < write_data_bytes ? size - sent : write_data_bytes;
    progress_mark(sent + data_length);
    copy_block(tag_length, work, "RFD");
    copy_block(data_length, work + tag_length, source + sent);
    next_number = send_write_packet(data_length + tag_length, work, next_number, file_service_write);
    sent += data_length;
  } while (data_length == write_data_bytes);
  send_eot_until_ack();
  int length = recv_reply(work, work_buffer_size);
  if (!reply_begins_with("AEX", work, length)) {
    print_message(msg("sending_failed"), {name});
    return transfer_refused;
  }
  print_message(msg("transfer_end"));
  return transfer_done;
}
