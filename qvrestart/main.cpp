// qvrestart: resets the device's PC-link state with the command "CLE".
#include "pclink/console.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"

namespace {

// "qvrestart v1.42 ZAURUS パソコンリンクリセット" (PC link reset)
constexpr char title[] =
    "qvrestart v1.42 ZAURUS \x83\x70\x83\x5c\x83\x52\x83\x93\x83\x8a\x83\x93\x83\x4e\x83\x8a\x83\x5a"
    "\x83\x62\x83\x67";

struct Settings {
  int link_mode = default_link_mode;
  bool run = false;
};

// Options are chosen by their second character; any argument that does not
// begin with "-" is ignored. A rejected command line clears the run flag.
Settings parse_arguments(int argc, char** argv) {
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-') {
      continue;
    }
    switch (argument[1]) {
      case 'C':
        echo_enabled = false;
        break;
      case 'd':
        if (i + 1 >= argc) {
          settings.run = false;
          return settings;
        }
        take_port_option(argv[++i]);
        break;
      case 'r':
        settings.run = true;
        break;
      case 's':
        settings.link_mode = link_mode_from_option(argument);
        break;
      default:  // a lone "-" too
        settings.run = false;
        return settings;
    }
  }
  return settings;
}

}  // namespace

int main(int argc, char** argv) {
  print_line(title, author_suffix);
  Settings settings = parse_arguments(argc, argv);
  if (!settings.run) {
    print_line("usage:", " qvrestart [-s0|1|2] -r");
    exit_program(exit_done);
  }
  open_port(settings.link_mode);
  int reset = reset_device();
  await_enq();
  close_port();
  exit_program(reset ? exit_done : exit_not_done);
}
