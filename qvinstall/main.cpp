// qvinstall: installs an add-in package, or one program file, on the device.
#include "pclink/console.h"
#include "qvinstall/install_modes.h"
#include "qvinstall/settings.h"

namespace {

// "qvinstall v1.42 ZAURUS AddInソフト転送" (add-in software transfer)
constexpr char title[] =
    "\x71\x76\x69\x6e\x73\x74\x61\x6c\x6c\x20\x76\x31\x2e\x34\x32\x20\x5a\x41\x55\x52\x55\x53\x20\x41\x64\x64\x49"
    "\x6e\x83\x5c\x83\x74\x83\x67\x93\x5d\x91\x97";

}  // namespace

int main(int argc, char** argv) {
  print_line(title, author_suffix);
  char* name = parse_arguments(argc, argv);
  if (name == nullptr) {
    print_usage();
    exit_program(exit_done);
  }
  int outcome = install_settings.program_mode ? install_program(name) : install_package(name);
  exit_program(outcome);
}
