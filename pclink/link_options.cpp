// The command-line options shared by every device program.
#include "pclink/link_options.h"

#include <cstring>
#include <string>

#include "pclink/file_commands.h"
#include "pclink/serial_port.h"

bool is_option(const char* argument) {
  return argument[0] == '-' && argument[1] != '\0';
}

LinkOption take_link_option(int argc, char** argv, int& index, int& link_mode) {
  const char* option = argv[index];
  switch (option[1]) {
    case 'C':
      echo_enabled = false;
      return LinkOption::taken;
    case 'd':
      // "-d --x" is a forgotten port name followed by a long option, which
      // no program knows, rather than a port called "--x".
      if (index + 1 >= argc || std::strncmp(argv[index + 1], "--", 2) == 0) {
        return LinkOption::rejected;
      }
      take_port_option(argv[++index]);
      return LinkOption::taken;
    case 's':
      link_mode = link_mode_from_option(option);
      return LinkOption::taken;
    default:
      return LinkOption::program_own;
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
      link_mode = item.value == nullptr ? 0 : item.value[0] & 3;
      return true;
    default:
      return false;
  }
}

void take_fetch_room_option(const CommandLineItem& item, CommandLineReader& reader, int& fetch_room) {
  if (item.value == nullptr) {
    refuse_command_line(reader, msg("size_option_missing"), {});
    return;
  }
  const int room = fetch_room_from_option(("-m" + std::string(item.value)).c_str());
  if (room < 0) {
    refuse_command_line(reader, msg("size_option_bad"), {item.value});
    return;
  }
  fetch_room = room;
}
