// Reading and writing device files: the request Packets and the data trains.
#include "pclink/file_commands.h"

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/line_doubts.h"
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

// Reads of a file whose train lost a Packet: one loss is a fault of the
// line; a second in a row on the same file means a line too noisy to go on.
constexpr int broken_train_reads = 2;

// Every transmission of the file service, a repeat included, takes the next
// number.
constexpr WriteRules file_service_write{RepeatNumber::next, no_progress_mark, true};

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

int fetch_train(const char* service_word, const std::uint8_t* request, int request_length, const char* data_tag,
                TrainSink& sink, const char* name) {
  std::uint8_t reply[work_buffer_size];
  for (int reads = 1;; ++reads) {
    if (!request_service(service_word, reply, work_buffer_size)) {
      return transfer_refused;
    }
    wait_for(ENQ);
    send_command(request_length, request);
    send_control(ENQ);
    const int result = receive_train(data_tag, sink, name);
    if (result != transfer_broken) {
      return result;
    }
    // Reading has no effect on the device: a train that lost a Packet is
    // asked for again, from the start, into an emptied sink.
    if (reads == broken_train_reads || !restart_sink(sink)) {
      abandon_explained_exchange();
    }
    print_message(msg("broken_train_read_again"), {name});
    await_enq();  // taken with the train's end
  }
}

int get_file(int capacity, std::uint8_t* destination, const char* name) {
  TrainSink sink;
  sink.block = destination;
  sink.capacity = capacity;
  return read_device_file(name, sink);
}

int read_device_file(const char* name, TrainSink& sink) {
  if (!request_name_fits(name, read_name_max_length)) {
    return transfer_not_started;
  }
  int name_length = text_length(name);
  int announced = sink.capacity < 0                           ? 0
                  : sink.capacity > largest_announced_capacity ? largest_announced_capacity
                                                               : sink.capacity;
  sink.capacity = announced;
  // "RFV", the capacity as three raw bytes (0x00 among them, so the request
  // goes by its length, never as a string), "S1:", the name and its NUL.
  std::uint8_t request[work_buffer_size];
  copy_block(tag_length, request, "RFV");
  request[3] = static_cast<std::uint8_t>(announced & 0xFF);
  request[4] = static_cast<std::uint8_t>((announced >> 8) & 0xFF);
  request[5] = static_cast<std::uint8_t>((announced >> 16) & 0xFF);
  copy_string(copy_string(reinterpret_cast<char*>(request + 6), "S1:"), name);
  return fetch_train("CFV", request, name_length + 10, "AFV", sink, name);
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
  const WriteWatch watch = watch_write();
  int next_number = 1;
  copy_string(copy_string(reinterpret_cast<char*>(work), "RFDS1:"), name);
  next_number = send_write_packet(name_length + 7, work, next_number, file_service_write);
  // The last data Packet always carries fewer than 253 bytes, so a size
  // that is a multiple of 253 (0 included) ends with a bare "RFD".
  int sent = 0;
  int data_length = write_data_bytes;
  const bool request_met_silence = next_number == device_ended_train;
  bool device_left = request_met_silence;
  bool answer_lost = false;  // the last data Packet's
  begin_progress(name, size);
  while (data_length == write_data_bytes && !device_left) {
    data_length = size - sent < write_data_bytes ? size - sent : write_data_bytes;
    progress_mark(sent + data_length);
    copy_block(tag_length, work, "RFD");
    copy_block(data_length, work + tag_length, source + sent);
    int silent_number = 0;
    next_number = send_write_packet(data_length + tag_length, work, next_number, file_service_write, &silent_number);
    if (next_number == device_ended_train) {
      // A device that passes over the ENQ is still reading the train: its
      // answer was lost, and is taken as the likelier ACK, as a damaged one
      // is (a lost NAK shows in the read-back as a missing piece). A second
      // silence in a row is a device gone, which the reply's wait ends.
      device_left = device_left_train() || answer_lost;
      answer_lost = !device_left;
      if (answer_lost) note_line_doubt();
      next_number = silent_number + 1;
    } else {
      answer_lost = false;
    }
    sent += data_length;
  }
  // A device that ended the train itself waits for our ENQ, not an EOT; in
  // the train, device_left_train has sent it.
  int length = request_met_silence ? recv_reply(work, work_buffer_size)
               : device_left       ? take_reply(work, work_buffer_size)
                                   : end_write_train(work, work_buffer_size);
  if (!reply_begins_with("AEX", work, length)) {
    print_message(msg("sending_failed"), {name});
    return transfer_refused;
  }
  print_message(msg("transfer_end"));
  return write_proven(watch) ? transfer_done : transfer_unproven;
}
