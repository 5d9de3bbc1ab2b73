// Reading a command line as a POSIX user expects, and refusing one so that
// the user sees what was wrong.
//
// Arguments are read left to right. An argument that begins with "-" and
// has more after it is a group of option letters (-vg is -v -g), each
// honoured, and refused whole when it holds a letter the program does not
// know: a typo must never turn a fetch into a send. A letter that takes a
// value ends its group: the rest of the argument is the value (-Cs2,
// -Cd/dev/ttyUSB0), and a letter whose value is required takes the next
// argument when nothing follows it in the group (-d /dev/ttyUSB0). Every
// argument beginning with "--" is refused (--help and --version are
// answered before the command line is read). Any other argument is a name;
// a lone "-" is one where the program says so.
#pragma once

#include <string>
#include <vector>

#include "pclink/messages.h"

struct OptionLetters {
  const char* flags;           // letters that stand alone: "Cgv"
  const char* optional_value;  // letters whose value is the rest of the group, maybe none: "s"
  const char* required_value;  // letters whose value is the rest of the group or the next argument: "dm"
  bool lone_dash_is_name;      // "-" names standard input rather than being refused
};

// Why a command line was refused: printed before the usage text, the
// program's name first among its values.
struct CommandLineRefusal {
  const Message* reason = nullptr;  // null: nothing was refused
  std::vector<std::string> values;  // the values after the program's name
};

struct CommandLineReader {
  int argc = 0;
  char** argv = nullptr;
  int index = 1;      // the argument being read
  int letter_at = 0;  // inside a group, the next letter's place; 0 between arguments
  CommandLineRefusal refusal;
};

// A reader at the first argument after the program's name.
CommandLineReader read_command_line(int argc, char** argv);

enum class ItemKind { name, option, refused, end };

struct CommandLineItem {
  ItemKind kind = ItemKind::end;
  char letter = 0;              // an option's letter
  const char* value = nullptr;  // a name; an option's value, null when it has none
  const char* argument = nullptr;  // the whole argument the item came from
};

// The next name or option. A required value that is missing (the letter
// ends the command line, or the next argument begins with "--") comes back
// as an option without a value, for its reader to refuse. refused is
// returned once the reader holds a refusal, and again on every later call.
CommandLineItem next_item(CommandLineReader& reader, const OptionLetters& letters);

// Takes a name into place, which holds the program's name there so far:
// a second is refused rather than put in the first's place, which would
// drop an argument unseen ("-c 3 memo.txt" would log to slot 0).
void take_name(const CommandLineItem& item, CommandLineReader& reader, const char*& place);

// Refuses the command line for reason, with values after the program's
// name; returns the refused item, for a caller to hand on.
CommandLineItem refuse_command_line(CommandLineReader& reader, const Message& reason,
                                    std::vector<std::string> values);

// What a program shows around a refusal.
struct ProgramUsage {
  const char* program;          // "qvcopy"
  const Message& usage;         // its usage text
  const char* more_options;     // the options the usage text leaves out: "-d <port>, -C, -v and -m<size>"
  const Message* name_missing;  // the refusal when nothing was wrong but a name was missing
};

// Prints the refusal (or, without one, usage.name_missing), the usage text
// and a line naming the options the usage leaves out and pointing to
// --help, all on standard error; then ends the program with exit code 2.
[[noreturn]] void end_refused_command_line(const CommandLineRefusal& refusal, const ProgramUsage& usage);
