#include "qvcopy/copy_command.h"

#include "pclink/host_path.h"
#include "pclink/link_options.h"

namespace {

constexpr OptionLetters copy_letters{"Cgv", "s", "dm", true};

}  // namespace

CopyCommand parse_copy_command(int argc, char** argv) {
  CopyCommand command;
  CommandLineReader reader = read_command_line(argc, argv);
  for (CommandLineItem item = next_item(reader, copy_letters); item.kind != ItemKind::end;
       item = next_item(reader, copy_letters)) {
    if (item.kind == ItemKind::refused) break;
    if (item.kind == ItemKind::name) {
      take_name(item, reader, command.first_name == nullptr ? command.first_name : command.second_name);
    } else if (take_link_option(item, reader, command.link_mode)) {
    } else if (item.letter == 'g') {
      command.fetch = true;
    } else if (item.letter == 'v') {
      command.verify = true;
    } else {
      take_fetch_room_option(item, reader, command.fetch_room);
    }
  }
  if (reader.refusal.reason != nullptr) {
    CopyCommand refused;  // the names seen so far are forgotten
    refused.refusal = reader.refusal;
    return refused;
  }
  if (command.first_name != nullptr && command.second_name == nullptr) {
    // A device file takes the host file's own name, not the folders it sits
    // in on this computer; a fetched file lands in the current folder.
    command.second_name = command.fetch ? command.first_name : host_base_name(command.first_name);
    command.second_name_defaulted = true;
  }
  return command;
}
