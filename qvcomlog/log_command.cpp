#include "qvcomlog/log_command.h"

#include <cstring>

#include "pclink/host_file_transfers.h"
#include "pclink/link_options.h"

namespace {

constexpr int log_slot_count = 9;

}  // namespace

int log_slot_from_option(const char* option) {
  int slot = option[1] == '\0' ? 0 : option[2] & 0x0F;
  return slot < log_slot_count ? slot : 0;
}

LogCommand parse_log_command(int argc, char** argv) {
  LogCommand command;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!is_option(argument)) {
      command.host_name = argument;  // the last one wins
      continue;
    }
    LinkOption shared = take_link_option(argc, argv, i, command.link_mode);
    if (shared == LinkOption::taken) {
      continue;
    }
    if (shared == LinkOption::program_own && argument[1] == 'g') {
      command.fetch = true;
      continue;
    }
    if (shared == LinkOption::program_own && argument[1] == 'v') {
      command.verify = true;
      continue;
    }
    if (shared == LinkOption::program_own && argument[1] == 'c') {
      command.log_slot = log_slot_from_option(argument);
      continue;
    }
    if (shared == LinkOption::program_own && argument[1] == 'm') {
      command.fetch_room = fetch_room_from_option(argument);
      if (command.fetch_room < 0) return LogCommand{};  // a bad room rejects the command line
      continue;
    }
    return LogCommand{};  // a file name seen so far is forgotten
  }
  return command;
}

void log_device_name(int log_slot, char (&name)[log_device_name_size]) {
  std::memcpy(name, "COM0.LOG", log_device_name_size);
  name[3] = static_cast<char>('0' + log_slot);
}

void log_header(int log_slot, char (&header)[log_header_length + 1]) {
  std::memcpy(header, "#01;19100101 000000\r###;\r", log_header_length + 1);
  header[7] = static_cast<char>('0' + log_slot);
}
