#include "qvcomlog/log_command.h"

#include <cstring>

#include "pclink/link_options.h"

namespace {

constexpr int log_slot_count = 9;

}  // namespace

int log_slot_from_value(const char* value) {
  int slot = value == nullptr ? 0 : value[0] & 0x0F;
  return slot < log_slot_count ? slot : 0;
}

namespace {

constexpr OptionLetters log_letters{"Cgv", "sc", "dm", true};

// -c takes one character: "-c12" is a typo, not slot 1.
void take_slot_option(const CommandLineItem& item, CommandLineReader& reader, int& log_slot) {
  if (item.value != nullptr && item.value[1] != '\0') {
    refuse_command_line(reader, msg("slot_option_bad"), {item.argument});
    return;
  }
  log_slot = log_slot_from_value(item.value);
}

}  // namespace

LogCommand parse_log_command(int argc, char** argv) {
  LogCommand command;
  CommandLineReader reader = read_command_line(argc, argv);
  for (CommandLineItem item = next_item(reader, log_letters); item.kind != ItemKind::end;
       item = next_item(reader, log_letters)) {
    if (item.kind == ItemKind::refused) break;
    if (item.kind == ItemKind::name) {
      take_name(item, reader, command.host_name);
    } else if (take_link_option(item, reader, command.link_mode)) {
    } else if (item.letter == 'g') {
      command.fetch = true;
    } else if (item.letter == 'v') {
      command.verify = true;
    } else if (item.letter == 'c') {
      take_slot_option(item, reader, command.log_slot);
    } else {
      take_fetch_room_option(item, reader, command.fetch_room);
    }
  }
  if (reader.refusal.reason != nullptr) {
    LogCommand refused;  // a file name seen so far is forgotten
    refused.refusal = reader.refusal;
    return refused;
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
