#include "qvdir/list_command.h"

#include "pclink/link_options.h"

namespace {

constexpr OptionLetters list_letters{"C", "s", "d", true};

}  // namespace

ListCommand parse_list_command(int argc, char** argv) {
  ListCommand command;
  CommandLineReader reader = read_command_line(argc, argv);
  const char* named = nullptr;
  for (CommandLineItem item = next_item(reader, list_letters); item.kind != ItemKind::end;
       item = next_item(reader, list_letters)) {
    if (item.kind == ItemKind::name) {
      take_name(item, reader, named);
    } else if (item.kind == ItemKind::refused || !take_link_option(item, reader, command.link_mode)) {
      break;
    }
  }
  if (named != nullptr) command.target_name = named;
  if (reader.refusal.reason != nullptr) {
    command.target_name = nullptr;
    command.refusal = reader.refusal;
  }
  return command;
}
