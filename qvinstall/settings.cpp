#include "qvinstall/settings.h"

#include "pclink/console.h"

InstallSettings install_settings;

char* parse_arguments(int argc, char** argv) {
  char* name = nullptr;
  for (int i = 1; i < argc; ++i) {
    char* argument = argv[i];
    // A lone "-" is a name: the package list on standard input.
    if (argument[0] != '-' || argument[1] == '\0') {
      name = argument;
      continue;
    }
    switch (argument[1]) {
      case 'C':
        echo_enabled = false;
        break;
      case 'D':
        install_settings.show_desc = false;
        break;
      case 'R':
        install_settings.reset_after = false;
        break;
      case 'd':
        if (i + 1 >= argc) {
          return nullptr;
        }
        take_port_option(argv[++i]);
        break;
      case 'q':
        install_settings.program_mode = true;
        break;
      case 's':
        install_settings.link_mode = link_mode_from_option(argument);
        break;
      case 't':
        install_settings.end_mark = true;
        break;
      default:
        return nullptr;
    }
  }
  return name;
}

void print_usage() {
  print_line("usage: ", "qvinstall    [-s0|1|2] [-t] [-D] <file>.zrs");
  print_line("       ", "qvinstall -q [-s0|1|2] [-t] [-R] <file>.bas");
}
