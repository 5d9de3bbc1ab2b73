#include "qvinstall/settings.h"

#include "pclink/console.h"
#include "pclink/link_options.h"

InstallSettings install_settings;

namespace {

// The installer's own option letters; false for a letter it does not know.
bool take_install_option(char letter) {
  switch (letter) {
    case 'D':
      install_settings.show_desc = false;
      return true;
    case 'R':
      install_settings.reset_after = false;
      return true;
    case 'q':
      install_settings.program_mode = true;
      return true;
    case 't':
      install_settings.end_mark = true;
      return true;
    case 'v':
      install_settings.verify = true;
      return true;
    default:
      return false;
  }
}

}  // namespace

char* parse_arguments(int argc, char** argv) {
  char* name = nullptr;
  for (int i = 1; i < argc; ++i) {
    char* argument = argv[i];
    // A lone "-" is a name: the package list on standard input.
    if (!is_option(argument)) {
      name = argument;
      continue;
    }
    LinkOption shared = take_link_option(argc, argv, i, install_settings.link_mode);
    if (shared == LinkOption::rejected || (shared == LinkOption::program_own && !take_install_option(argument[1]))) {
      return nullptr;
    }
  }
  return name;
}

void print_usage() {
  write_message(ConsoleStream::error, msg("usage_qvinstall"), {}, "");
}
