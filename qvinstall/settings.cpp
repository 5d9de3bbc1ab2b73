#include "qvinstall/settings.h"

#include "pclink/command_line.h"
#include "pclink/console.h"
#include "pclink/link_options.h"

InstallSettings install_settings;

namespace {

constexpr OptionLetters install_letters{"CDRqtv", "s", "d", true};

CommandLineRefusal install_refusal;

// The installer's own option letters.
void take_install_option(char letter) {
  switch (letter) {
    case 'D':
      install_settings.show_desc = false;
      break;
    case 'R':
      install_settings.reset_after = false;
      break;
    case 'q':
      install_settings.program_mode = true;
      break;
    case 't':
      install_settings.end_mark = true;
      break;
    case 'v':
      install_settings.verify = true;
      break;
    default:
      break;
  }
}

}  // namespace

char* parse_arguments(int argc, char** argv) {
  const char* name = nullptr;
  // A lone "-" is a name: the package list on standard input.
  CommandLineReader reader = read_command_line(argc, argv);
  for (CommandLineItem item = next_item(reader, install_letters); item.kind != ItemKind::end;
       item = next_item(reader, install_letters)) {
    if (item.kind == ItemKind::refused) break;
    if (item.kind == ItemKind::name) {
      take_name(item, reader, name);
    } else if (!take_link_option(item, reader, install_settings.link_mode)) {
      take_install_option(item.letter);
    }
  }
  install_refusal = reader.refusal;
  // argv's own argument, the program's to change
  return install_refusal.reason != nullptr ? nullptr : const_cast<char*>(name);
}

void refuse_install_command_line() {
  constexpr ProgramUsage usage{"qvinstall", msg("usage_qvinstall"), "-d <port>, -C and -v",
                               &msg("package_name_missing")};
  end_refused_command_line(install_refusal, usage);
}
