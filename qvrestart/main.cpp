// qvrestart: resets the device's PC-link state with the command "CLE".
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
    "Options (the value of -s follows the letter directly):\n"
    "  -r         reset; without it the program only shows its usage\n",
    true,
    "the device refused the reset",
    "  qvrestart -d /dev/ttyUSB0 -r\n",
};

struct Settings {
  int link_mode = default_link_mode;
  bool run = false;
};

// Options are chosen by their second character; an argument that does not
// begin with "-" is ignored, a lone "-" rejects the command line like an
// unknown option. A rejected command line clears the run flag.
Settings parse_arguments(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-') {
      continue;
    }
    LinkOption shared = is_option(argument) ? take_link_option(argc, argv, i, settings.link_mode)
                                            : LinkOption::rejected;
    if (shared == LinkOption::taken) {
      continue;
    }
    if (shared == LinkOption::rejected || argument[1] != 'r') {
      settings.run = false;
      return settings;
    }
    settings.run = true;
  }
  return settings;
}

}  // namespace

int main(int argc, char** argv) {
  answer_help_or_version(argc, argv, help);
  print_banner(ConsoleStream::error, msg("title_qvrestart"), "\n");
  Settings settings = parse_arguments(argc, argv);
  if (!settings.run) {
    write_message(ConsoleStream::error, msg("usage_qvrestart"), {}, "");
    exit_program(exit_not_done);
  }
  open_port(settings.link_mode);
  int reset = reset_device();
  await_enq();
  close_port();
  exit_program(reset ? exit_done : exit_not_done);
}
