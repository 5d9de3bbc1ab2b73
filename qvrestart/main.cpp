// qvrestart: resets the device's PC-link state with the command "CLE".
#include "pclink/command_line.h"
#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/link_options.h"
#include "pclink/packet.h"
#include "pclink/program_help.h"
#include "pclink/serial_port.h"

namespace {

constexpr ProgramHelp help{
    "qvrestart",
    "qvrestart resets the device's PC-link state with the command CLE, for a\n"
    "device left waiting by a broken transfer.\n"
    "\n"
    "usage: qvrestart [options] -r\n"
    "\n"
    "Options, which may be grouped (-Cr): -s takes its digit attached, -d its port\n"
    "attached or as the next argument:\n"
    "  -r         reset; without it the program only shows its usage\n",
    true,
    "the device refused the reset",
    "  qvrestart -d /dev/ttyUSB0 -r\n",
};

struct Settings {
  int link_mode = default_link_mode;
  bool run = false;
  CommandLineRefusal refusal;
};

// Plain words are ignored; a lone "-" is refused like an unknown option.
constexpr OptionLetters reset_letters{"Cr", "s", "d", false};

constexpr ProgramUsage usage{"qvrestart", msg("usage_qvrestart"), "-d <port> and -C", &msg("run_option_missing")};

// A refused command line clears the run flag.
Settings parse_arguments(int argc, char** argv) {
  Settings settings;
  CommandLineReader reader = read_command_line(argc, argv);
  for (CommandLineItem item = next_item(reader, reset_letters); item.kind != ItemKind::end;
       item = next_item(reader, reset_letters)) {
    if (item.kind == ItemKind::refused) break;
    if (item.kind == ItemKind::option && !take_link_option(item, reader, settings.link_mode)) settings.run = true;
  }
  if (reader.refusal.reason != nullptr) {
    settings.run = false;
    settings.refusal = reader.refusal;
  }
  return settings;
}

}  // namespace

int main(int argc, char** argv) {
  answer_help_or_version(argc, argv, help);
  print_banner(ConsoleStream::error, msg("title_qvrestart"), "\n");
  Settings settings = parse_arguments(argc, argv);
  if (!settings.run) end_refused_command_line(settings.refusal, usage);
  open_port(settings.link_mode);
  int reset = reset_device();
  await_enq();
  close_port();
  // A person at a terminal is told that it worked; a script has the exit code.
  if (reset && console_is_terminal(ConsoleStream::error)) print_message(msg("reset_done"));
  exit_program(reset ? exit_done : exit_not_done);
}
