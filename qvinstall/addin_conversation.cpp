#include "qvinstall/addin_conversation.h"

#include <cstdio>
#include <string>

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/device_names.h"
#include "pclink/file_commands.h"
#include "pclink/local_files.h"
#include "pclink/packet.h"
#include "pclink/progress.h"
#include "pclink/terminal_text.h"
#include "qvinstall/install_verify.h"
#include "qvinstall/settings.h"

namespace {

// A read request for 10 bytes of "S1:NIFADR.BOX": the device answers it with
// data only when it can take add-in software.
constexpr std::uint8_t addin_probe[] = {'R', 'F', 'V', 0x0A, 0x00, 0x00, 'S', '1', ':', 'N',
                                        'I', 'F', 'A', 'D', 'R', '.', 'B', 'O', 'X', 0x00};

constexpr int max_block = 253;  // file bytes per data Packet
constexpr int tag_length = 3;   // "RFD" in front of every write payload
constexpr std::uint8_t end_of_text = 0x1A;

const std::uint8_t* bytes_of(const char* text) {
  return reinterpret_cast<const std::uint8_t*>(text);
}

// A directory opens like a file on some hosts but gives nothing to read; it
// is refused like a file that cannot be opened, before anything names it to
// the device.
bool can_be_read(FileRef& file) {
  int first = std::fgetc(file.stream);
  if (first == EOF) {
    return std::ferror(file.stream) == 0;
  }
  std::ungetc(first, file.stream);
  return true;
}

// The bytes left to send, for the progress line, when the stream can tell
// (a pipe cannot).
long long size_left(FileRef& file) {
  long start = std::ftell(file.stream);
  if (start < 0 || std::fseek(file.stream, 0, SEEK_END) != 0) {
    return unknown_total;
  }
  long end = std::ftell(file.stream);
  std::fseek(file.stream, start, SEEK_SET);
  return end < start ? unknown_total : end - start;
}

// The installer's writes go until the device answers ACK, every
// transmission under the next number and counted as a progress mark with
// marked_done bytes done, unless that is no_progress_mark. Returns the
// number that the next Packet takes.
int send_until_ack(int n, const std::uint8_t* payload, int number, long long marked_done) {
  return send_write_packet(n, payload, number, {WriteTaken::on_ack, RepeatNumber::next, marked_done});
}

// "RFDS1:" + device name + NUL under number 1, repeated until ACK.
int send_write_request(const char* device_name, std::uint8_t* exchange) {
  char* request = reinterpret_cast<char*>(exchange);
  copy_string(copy_string(request, "RFDS1:"), device_name);
  return send_until_ack(text_length(device_name) + 7, exchange, 1, no_progress_mark);
}

// The file in data Packets of up to 253 bytes; a file that ends on a full
// block needs no empty Packet after it. Returns the next number.
int send_file_data(FileRef& file, std::uint8_t* exchange, int number) {
  int count = 0;
  long long sent = 0;
  do {
    copy_block(tag_length, exchange, "RFD");
    count = read_block(file, exchange + tag_length, max_block);
    if (count > 0) {
      sent += count;
      number = send_until_ack(count + tag_length, exchange, number, sent);
    }
  } while (count == max_block);
  return number;
}

// "RFD" 0x1A under the current number, the same number on every repeat.
void send_end_mark(std::uint8_t* exchange, int number) {
  progress_extra_mark("T");
  copy_block(tag_length, exchange, "RFD");
  exchange[tag_length] = end_of_text;
  send_write_packet(tag_length + 1, exchange, number, {WriteTaken::on_ack, RepeatNumber::same});
}

}  // namespace

int connect_addin() {
  std::uint8_t exchange[exchange_buffer_size];
  if (!connect_device(exchange, exchange_buffer_size)) {
    return 0;
  }
  wait_for(ENQ);
  send_command(sizeof addin_probe, addin_probe);
  int length = recv_reply(exchange, exchange_buffer_size);
  if (!reply_begins_with("AFV", exchange, length)) {
    print_message(msg("addin_unavailable"));
    return 0;
  }
  return 1;
}

bool name_fits_request(const char* name) {
  if (text_length(name) <= max_file_name_length) {
    return true;
  }
  print_message(msg("program_name_too_long"), {name});
  return false;
}

void make_device_name(char* name) {
  for (; *name != '\0'; ++name) {
    // The second byte of a double-byte character is part of that character,
    // whatever its value: changed, it would name another one.
    if (is_shift_jis_lead(static_cast<unsigned char>(*name)) && name[1] != '\0') {
      ++name;
    } else if (*name >= 'a' && *name <= 'z') {
      *name = static_cast<char>(*name - 0x20);
    }
  }
}

int send_addin_file(const char* name) {
  std::string device_name;
  if (!device_name_from_user_name(name, device_name) || !name_fits_request(device_name.c_str())) {
    return 0;
  }
  std::uint8_t exchange[exchange_buffer_size];
  wait_for(ENQ);
  send_command(3, bytes_of("CFD"));
  int length = recv_reply(exchange, exchange_buffer_size);
  if (!reply_begins_with("DOK", exchange, length)) {
    print_message(msg("send_command_error"));
    return 0;
  }
  FileRef file;
  std::vector<std::uint8_t> expected;
  if (!open_input(file, name) || !can_be_read(file) ||
      (install_settings.verify && !take_expected_copy(name, install_settings.end_mark, expected))) {
    close_file(file);
    print_message(msg("install_file_unreadable"), {host_value(name)});
    return 0;
  }
  begin_host_file_progress(name, size_left(file));
  wait_for(ENQ);
  make_device_name(device_name.data());
  int number = send_write_request(device_name.c_str(), exchange);
  number = send_file_data(file, exchange, number);
  if (install_settings.end_mark) {
    send_end_mark(exchange, number);
    install_settings.end_mark = false;
  }
  // A read that failed half-way has sent the device a shortened file.
  bool read_whole = std::ferror(file.stream) == 0;
  close_file(file);
  send_eot_until_ack();
  length = recv_reply(exchange, exchange_buffer_size);
  if (read_whole && reply_begins_with("AEX", exchange, length)) {
    print_message(msg("install_file_done"));
    return !install_settings.verify || installed_file_matches(device_name.c_str(), expected);
  }
  print_message(msg("sending_failed"), {device_name});
  return 0;
}

int finish_install() {
  int reset = 1;
  if (install_settings.reset_after) {
    wait_for(ENQ);
    reset = reset_device();
  }
  await_enq();
  return reset;
}
