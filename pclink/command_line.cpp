#include "pclink/command_line.h"

#include <cstring>

#include "pclink/console.h"

namespace {

bool is_among(char letter, const char* letters) {
  return letter != '\0' && letters != nullptr && std::strchr(letters, letter) != nullptr;
}

// Moves the reader on to the next argument.
void next_argument(CommandLineReader& reader) {
  ++reader.index;
  reader.letter_at = 0;
}

CommandLineItem option(char letter, const char* value, const char* argument) {
  return {ItemKind::option, letter, value, argument};
}

// The letter at the reader's place in a group.
CommandLineItem read_letter(CommandLineReader& reader, const OptionLetters& letters) {
  const char* argument = reader.argv[reader.index];
  const char letter = argument[reader.letter_at];
  const char* rest = argument + reader.letter_at + 1;
  if (is_among(letter, letters.flags)) {
    ++reader.letter_at;
    if (*rest == '\0') next_argument(reader);
    return option(letter, nullptr, argument);
  }
  if (is_among(letter, letters.optional_value)) {
    next_argument(reader);
    return option(letter, *rest == '\0' ? nullptr : rest, argument);
  }
  if (is_among(letter, letters.required_value)) {
    next_argument(reader);
    if (*rest != '\0') return option(letter, rest, argument);
    // "-d --x" is a forgotten port name before a long option, which no
    // program knows, rather than a port called "--x".
    if (reader.index >= reader.argc || std::strncmp(reader.argv[reader.index], "--", 2) == 0) {
      return option(letter, nullptr, argument);
    }
    const char* value = reader.argv[reader.index];
    next_argument(reader);
    return option(letter, value, argument);
  }
  // A byte above ASCII is part of a character, not a letter of its own:
  // the argument is named whole ("-é" would show as half a character).
  if (static_cast<unsigned char>(letter) >= 0x80) {
    return refuse_command_line(reader, msg("option_unknown"), {argument});
  }
  return refuse_command_line(reader, msg("option_letter_unknown"), {std::string(1, letter), argument});
}

}  // namespace

CommandLineReader read_command_line(int argc, char** argv) {
  CommandLineReader reader;
  reader.argc = argc;
  reader.argv = argv;
  return reader;
}

CommandLineItem next_item(CommandLineReader& reader, const OptionLetters& letters) {
  if (reader.refusal.reason != nullptr) return {ItemKind::refused};
  if (reader.letter_at > 0) return read_letter(reader, letters);
  if (reader.index >= reader.argc) return {};
  const char* argument = reader.argv[reader.index];
  const bool lone_dash = std::strcmp(argument, "-") == 0;
  if (argument[0] != '-' || (lone_dash && letters.lone_dash_is_name)) {
    next_argument(reader);
    return {ItemKind::name, 0, argument, argument};
  }
  if (lone_dash || argument[1] == '-') return refuse_command_line(reader, msg("option_unknown"), {argument});
  reader.letter_at = 1;
  return read_letter(reader, letters);
}

CommandLineItem refuse_command_line(CommandLineReader& reader, const Message& reason,
                                    std::vector<std::string> values) {
  reader.refusal = {&reason, std::move(values)};
  return {ItemKind::refused};
}

void take_name(const CommandLineItem& item, CommandLineReader& reader, const char*& place) {
  if (place != nullptr) {
    refuse_command_line(reader, msg("name_too_many"), {item.value, place});
    return;
  }
  place = item.value;
}

void end_refused_command_line(const CommandLineRefusal& refusal, const ProgramUsage& usage) {
  const Message* reason = refusal.reason != nullptr ? refusal.reason : usage.name_missing;
  if (reason != nullptr) {
    // What the user typed is named in the user's own encoding.
    std::vector<MessageValue> values{usage.program};
    for (const std::string& value : refusal.values) values.push_back(host_value(value.c_str()));
    write_message_values(ConsoleStream::error, *reason, values, "\n");
  }
  write_message(ConsoleStream::error, usage.usage, {}, "");
  if (usage.more_options[0] != '\0') {
    print_message(msg("usage_more_options"), {usage.program, usage.more_options});
  } else {
    print_message(msg("usage_help_hint"), {usage.program});
  }
  exit_program(exit_not_done);
}
