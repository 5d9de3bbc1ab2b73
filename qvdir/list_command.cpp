#include "qvdir/list_command.h"

#include "pclink/link_options.h"

ListCommand parse_list_command(int argc, char** argv) {
  ListCommand command;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!is_option(argument)) {
      command.target_name = argument;
      continue;
    }
    if (take_link_option(argc, argv, i, command.link_mode) != LinkOption::taken) {
      command.target_name = nullptr;
      return command;
    }
  }
  return command;
}
