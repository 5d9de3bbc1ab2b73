// The command-line options shared by every device program.
#include "pclink/serial_port.h"

#include <cstring>

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
