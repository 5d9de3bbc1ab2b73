#include "pclink/link_options.h"

#include <cstring>

#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/serial_port.h"

int link_mode_from_option(const char* option) {
  return option[1] == '\0' ? 0 : option[2] & 3;
}

void take_port_option(const char* name) {
  if (set_port_name(name) == 0) {
    print_host_line(name, ":port name too long (at most 79 characters)");
    exit_program(exit_not_done);
  }
}

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
