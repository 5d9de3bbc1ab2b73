#include "qvcopy/copy_command.h"

#include "pclink/host_file_transfers.h"
#include "pclink/host_path.h"
#include "pclink/link_options.h"

CopyCommand parse_copy_command(int argc, char** argv) {
  CopyCommand command;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!is_option(argument)) {
      // The first name stays; every later one replaces the second.
      (command.first_name == nullptr ? command.first_name : command.second_name) = argument;
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
    if (shared == LinkOption::program_own && argument[1] == 'm') {
      command.fetch_room = fetch_room_from_option(argument);
      if (command.fetch_room < 0) return CopyCommand{};  // a bad room rejects the command line
      continue;
    }
    if (shared == LinkOption::program_own && argument[1] == 'v') {
      command.verify = true;
      continue;
    }
    return CopyCommand{};  // the names seen so far are forgotten
  }
  if (command.first_name != nullptr && command.second_name == nullptr) {
    // A device file takes the host file's own name, not the folders it sits
    // in on this computer; a fetched file lands in the current folder.
    command.second_name = command.fetch ? command.first_name : host_base_name(command.first_name);
    command.second_name_defaulted = true;
  }
  return command;
}
