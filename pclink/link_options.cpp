#include "pclink/link_options.h"

#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/file_commands.h"
#include "pclink/serial_port.h"

int link_mode_from_value(const char* value) {
  return value == nullptr ? 0 : value[0] & 3;
}

void take_port_option(const char* name) {
  if (set_port_name(name) == 0) {
    print_message(msg("port_name_too_long"), {host_value(name)});
    exit_program(exit_not_done);
  }
}

bool take_link_option(const CommandLineItem& item, CommandLineReader& reader, int& link_mode) {
  if (item.kind != ItemKind::option) return false;
  switch (item.letter) {
    case 'C':
      echo_enabled = false;
      return true;
    case 'd':
      if (item.value == nullptr) {
        refuse_command_line(reader, msg("port_option_missing"), {});
        return true;
      }
      take_port_option(item.value);
      return true;
    case 's':
      // The digit alone: "-s12" or "-sv" is a typo, not mode 1 or 2.
      if (item.value != nullptr && (item.value[1] != '\0' || item.value[0] < '0' || item.value[0] > '9')) {
        refuse_command_line(reader, msg("link_mode_option_bad"), {item.argument});
        return true;
      }
      link_mode = link_mode_from_value(item.value);
      return true;
    default:
      return false;
  }
}

int fetch_room_from_size(const char* size) {
  const char* position = size;
  if (*position < '0' || *position > '9') return -1;
  long long value = 0;
  for (; *position >= '0' && *position <= '9'; ++position) {
    value = value * 10 + (*position - '0');
    if (value > largest_fetch_room) return -1;
  }
  if (*position == 'K' || *position == 'M') {
    value *= *position == 'K' ? 1024 : 1048576;
    ++position;
  }
  return *position == '\0' && value <= largest_fetch_room ? static_cast<int>(value) : -1;
}

void take_fetch_room_option(const CommandLineItem& item, CommandLineReader& reader, int& fetch_room) {
  if (item.value == nullptr) {
    refuse_command_line(reader, msg("size_option_missing"), {});
    return;
  }
  const int room = fetch_room_from_size(item.value);
  if (room < 0) {
    refuse_command_line(reader, msg("size_option_bad"), {item.value});
    return;
  }
  fetch_room = room;
}
