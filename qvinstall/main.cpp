// qvinstall: installs an add-in package, or one program file, on the device.
#include "pclink/console.h"
#include "pclink/device_names.h"
#include "pclink/program_help.h"
#include "qvinstall/install_modes.h"
#include "qvinstall/settings.h"

namespace {

constexpr ProgramHelp help{
    "qvinstall",
    "qvinstall installs an add-in package on the device: it shows the package's\n"
    "title and description, checks that the device takes add-ins, sends every\n"
    "file the package list names to S1: under its upper-case name, and has the\n"
    "device restart. With -q it sends one program file instead.\n"
    "\n"
    "usage: qvinstall    [options] <package list>.zrs\n"
    "       qvinstall -q [options] <program file>\n"
    "\n"
    "A package list named - is read from standard input.\n"
    "A package list is text: \"ZRS,P,\" and the title, then the name of a\n"
    "description file, then one file name per line.\n"
    "\n"
    "Options, which may be grouped (-tD): -s takes its digit attached, -d its port\n"
    "attached or as the next argument:\n"
    "  -q         send one program file instead of a package\n"
    "  -t         send an end-of-text mark after the first file\n"
    "  -D         do not show the description\n"
    "  -R         no restart of the device at the end\n"
    "  -v         read each written file back and compare it (about twice the time)\n",
    true,
    "the device is not connected or takes no add-ins, the\n"
    "       package list cannot be opened or is none, a listed file was not\n"
    "       installed or differs when read back, or the restart was refused",
    "  qvinstall -d /dev/ttyUSB0 -t hello.zrs\n",
};

}  // namespace

int main(int argc, char** argv) {
  answer_help_or_version(argc, argv, help);
  note_command_line(argc, argv);
  print_banner(ConsoleStream::error, msg("title_qvinstall"), "\n");
  char* name = parse_arguments(argc, argv);
  if (name == nullptr) refuse_install_command_line();
  int outcome = install_settings.program_mode ? install_program(name) : install_package(name);
  exit_program(outcome);
}
