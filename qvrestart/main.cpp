// qvrestart: resets the device's PC-link state with the command "CLE".
#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/link_options.h"
#include "pclink/packet.h"
#include "pclink/program_help.h"
#include "pclink/serial_port.h"
#include "pclink/version_text.h"

namespace {

// "qvrestart v<version> ZAURUS パソコンリンクリセット" (PC link reset)
constexpr char title[] =
    "qvrestart v" SUITE_VERSION_TEXT " ZAURUS "
    "\x83\x70\x83\x5c\x83\x52\x83\x93\x83\x8a\x83\x93\x83\x4e\x83\x8a\x83\x5a"
    "\x83\x62\x83\x67";

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
  print_line(title, author_suffix);
  Settings settings = parse_arguments(argc, argv);
  if (!settings.run) {
    print_line("usage:", " qvrestart [-s0|1|2] -r");
    exit_program(exit_not_done);
  }
  open_port(settings.link_mode);
  int reset = reset_device();
  await_enq();
  close_port();
  exit_program(reset ? exit_done : exit_not_done);
}
