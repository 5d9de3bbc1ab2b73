#include "qvinstall/addin_conversation.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/device_names.h"
#include "pclink/file_commands.h"
#include "pclink/line_doubts.h"
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

// The installer's writes go until the device takes them, every
// transmission under the next number and counted as a progress mark with
// marked_done bytes done, unless that is no_progress_mark. Returns the
// number that the next Packet takes.
int send_until_taken(int n, const std::uint8_t* payload, int number, long long marked_done) {
  return send_write_packet(n, payload, number, {RepeatNumber::next, marked_done});
}

// "RFDS1:" + device name + NUL under number 1.
int send_write_request(const char* device_name, std::uint8_t* exchange) {
  char* request = reinterpret_cast<char*>(exchange);
  copy_string(copy_string(request, "RFDS1:"), device_name);
  return send_until_taken(text_length(device_name) + 7, exchange, 1, no_progress_mark);
}

// The file in data Packets of up to 253 bytes; a file that ends on a full
// block needs no empty Packet after it, and an empty file sends none.
// Returns the next number.
int send_file_data(const std::vector<std::uint8_t>& file, std::uint8_t* exchange, int number) {
  for (std::size_t sent = 0; sent < file.size();) {
    int count = static_cast<int>(std::min<std::size_t>(max_block, file.size() - sent));
    copy_block(tag_length, exchange, "RFD");
    copy_block(count, exchange + tag_length, file.data() + sent);
    sent += static_cast<std::size_t>(count);
    number = send_until_taken(count + tag_length, exchange, number, static_cast<long long>(sent));
  }
  return number;
}

// "RFD" 0x1A under the current number, the same number on every repeat.
void send_end_mark(std::uint8_t* exchange, int number) {
  progress_extra_mark("T");
  copy_block(tag_length, exchange, "RFD");
  exchange[tag_length] = end_of_text;
  send_write_packet(tag_length + 1, exchange, number, {RepeatNumber::same});
}

// What one write of a file came to.
enum class FileWrite { refused, confirmed, unproven };

// One write conversation of the file, whose bytes are read already: "CFD"
// was consented. The progress line, the write request, the data, the end
// mark when it goes with this file, EOT, and the device's confirmation.
FileWrite write_file(const char* name, const char* device_name, const std::vector<std::uint8_t>& file,
                     bool with_end_mark, std::uint8_t* exchange) {
  begin_host_file_progress(name, static_cast<long long>(file.size()));
  wait_for(ENQ);
  const WriteWatch watch = watch_write();
  int number = send_write_request(device_name, exchange);
  number = send_file_data(file, exchange, number);
  if (with_end_mark) {
    send_end_mark(exchange, number);
  }
  int length = end_write_train(exchange, exchange_buffer_size);
  if (!reply_begins_with("AEX", exchange, length)) {
    print_message(msg("sending_failed"), {device_name});
    return FileWrite::refused;
  }
  print_message(msg("install_file_done"));
  return write_proven(watch) ? FileWrite::confirmed : FileWrite::unproven;
}

// "CFD" and its consent, after the device's ENQ.
bool write_consented(std::uint8_t* exchange) {
  wait_for(ENQ);
  send_command(3, bytes_of("CFD"));
  int length = recv_reply(exchange, exchange_buffer_size);
  if (!reply_begins_with("DOK", exchange, length)) {
    print_message(msg("send_command_error"));
    return false;
  }
  return true;
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
  make_device_name(device_name.data());
  std::uint8_t exchange[exchange_buffer_size];
  if (!write_consented(exchange)) {
    return 0;
  }
  // Read whole before anything names it to the device: a file that cannot
  // be read is refused with the device's consent unused, and what goes out
  // is known for the proof of the write.
  std::vector<std::uint8_t> file;
  if (!read_install_file(name, file)) {
    print_message(msg("install_file_unreadable"), {host_value(name)});
    return 0;
  }
  // Only the first file that gets this far carries the end-of-text Packet,
  // on each of its writes.
  const bool with_end_mark = install_settings.end_mark;
  install_settings.end_mark = false;
  std::vector<std::uint8_t> expected = file;
  if (with_end_mark) {
    expected.push_back(end_of_text);
  }
  if (install_settings.verify && !read_back_possible(device_name.c_str(), static_cast<int>(expected.size()))) {
    return 0;
  }
  for (int writes = 1;; ++writes) {
    FileWrite written = write_file(name, device_name.c_str(), file, with_end_mark, exchange);
    if (written == FileWrite::refused) {
      return 0;
    }
    WriteCheck check = prove_installed_file(device_name.c_str(), expected, written == FileWrite::unproven);
    // A damaged line stored it wrong: on a line no worse, one more write
    // stores it whole.
    if (check != WriteCheck::send_again || writes == 2) {
      return check == WriteCheck::whole ? 1 : 0;
    }
    print_message(msg("sending_again"), {device_name});
    if (!write_consented(exchange)) {
      return 0;
    }
  }
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
