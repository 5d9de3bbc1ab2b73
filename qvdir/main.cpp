// qvdir: prints the list the device returns for a storage name ("S1:" by
// default) on standard output.
#include <string>

#include "pclink/console.h"
#include "pclink/device_names.h"
#include "pclink/program_help.h"
#include "pclink/serial_port.h"
#include "qvdir/device_list.h"
#include "qvdir/list_command.h"

namespace {

constexpr ProgramHelp help{
    "qvdir",
    "qvdir asks the device for the list of a storage name (S1: unless one is\n"
    "given) and prints the list text on standard output as the device sends it;\n"
    "messages and progress marks go to standard error.\n"
    "\n"
    "usage: qvdir [options] [<device name>]\n"
    "\n"
    "Options, which may be grouped (-Cs2): -s takes its digit attached, -d its\n"
    "port attached or as the next argument:\n",
    true,
    "the device refused or is not connected, the name is not\n"
    "       known to it, or the list came incomplete",
    "  qvdir -d /dev/ttyUSB0 > list.txt         the list of S1: into list.txt\n",
};

constexpr ProgramUsage usage{"qvdir", msg("usage_qvdir"), "-d <port> and -C", nullptr};

}  // namespace

int main(int argc, char** argv) {
  answer_help_or_version(argc, argv, help);
  note_command_line(argc, argv);
  print_banner(ConsoleStream::error, msg("title_qvdir"), "\n");
  ListCommand command = parse_list_command(argc, argv);
  if (command.target_name == nullptr) end_refused_command_line(command.refusal, usage);
  std::string target_name;
  if (!device_name_from_user_name(command.target_name, target_name)) {
    exit_program(exit_not_done);
  }
  open_port(command.link_mode);
  int outcome = list_device(target_name.c_str());
  close_port();
  exit_program(outcome);
}
