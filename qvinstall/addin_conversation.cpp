#include "qvinstall/addin_conversation.h"

#include <cstdio>

#include "pclink/console.h"
#include "pclink/file_commands.h"
#include "pclink/local_files.h"
#include "pclink/packet.h"
#include "qvinstall/settings.h"

namespace {

// "addin 機能は使用できません" (the add-in function cannot be used)
constexpr char addin_unavailable[] =
    "\x61\x64\x64\x69\x6e\x20\x8b\x40\x94\x5c\x82\xcd\x8e\x67\x97\x70\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1";
// "送信コマンドエラー" (send command error)
constexpr char send_command_error[] = "\x91\x97\x90\x4d\x83\x52\x83\x7d\x83\x93\x83\x68\x83\x47\x83\x89\x81\x5b";
// ":送信ファイルがオープンできません" (the file to send cannot be opened)
constexpr char cannot_open_file[] =
    "\x3a\x91\x97\x90\x4d\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xaa\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc5\x82\xab"
    "\x82\xdc\x82\xb9\x82\xf1";
// " 終了" (end)
constexpr char file_done[] = "\x20\x8f\x49\x97\xb9";

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

// Sends the payload until the device answers ACK, every transmission under
// the next number, each preceded by mark when there is one. Returns the
// number that the next Packet takes. A line that never lets an ACK through
// ends the program after handshake_repeat_limit repeats.
int send_until_ack(int n, const std::uint8_t* payload, int number, const char* mark) {
  int repeats = 0;
  for (;;) {
    if (mark != nullptr) {
      print_text(mark);
    }
    send_packet(n, number, payload);
    ++number;
    if (recv_answer() == ACK) {
      return number;
    }
    count_repeat(repeats);
  }
}

// "RFDS1:" + device name + NUL under number 1, repeated until ACK.
int send_write_request(const char* device_name, std::uint8_t* exchange) {
  char* request = reinterpret_cast<char*>(exchange);
  copy_string(copy_string(request, "RFDS1:"), device_name);
  return send_until_ack(text_length(device_name) + 7, exchange, 1, nullptr);
}

// The file in data Packets of up to 253 bytes; a file that ends on a full
// block needs no empty Packet after it. Returns the next number.
int send_file_data(FileRef& file, std::uint8_t* exchange, int number) {
  int count = 0;
  do {
    copy_block(tag_length, exchange, "RFD");
    count = read_block(file, exchange + tag_length, max_block);
    if (count > 0) {
      number = send_until_ack(count + tag_length, exchange, number, "o");
    }
  } while (count == max_block);
  return number;
}

// "RFD" 0x1A under the current number, the same number on every repeat.
void send_end_mark(std::uint8_t* exchange, int number) {
  print_text("T");
  copy_block(tag_length, exchange, "RFD");
  exchange[tag_length] = end_of_text;
  int repeats = 0;
  for (;;) {
    send_packet(tag_length + 1, number, exchange);
    if (recv_answer() == ACK) {
      return;
    }
    count_repeat(repeats);
  }
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
    print_line(addin_unavailable, "");
    return 0;
  }
  return 1;
}

bool name_fits_request(const char* name) {
  if (text_length(name) <= max_file_name_length) {
    return true;
  }
  print_line(name, ":file name too long (at most 2041 bytes)");
  return false;
}

void make_device_name(char* name) {
  for (; *name != '\0'; ++name) {
    if (*name >= 'a' && *name <= 'z') {
      *name = static_cast<char>(*name - 0x20);
    }
  }
}

int send_addin_file(char* name) {
  if (!name_fits_request(name)) {
    return 0;
  }
  std::uint8_t exchange[exchange_buffer_size];
  wait_for(ENQ);
  send_command(3, bytes_of("CFD"));
  int length = recv_reply(exchange, exchange_buffer_size);
  if (!reply_begins_with("DOK", exchange, length)) {
    print_line(send_command_error, "");
    return 0;
  }
  FileRef file;
  if (!open_input(file, name) || !can_be_read(file)) {
    close_file(file);
    print_line(name, cannot_open_file);
    return 0;
  }
  print_text(name);
  print_text(":");
  wait_for(ENQ);
  make_device_name(name);
  int number = send_write_request(name, exchange);
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
    print_line(file_done, "");
    return 1;
  }
  print_line(name, sending_failed_message);
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
