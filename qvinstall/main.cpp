// qvinstall: installs an add-in package, or one program file, on the device.
#include "pclink/console.h"
#include "pclink/version_text.h"
#include "qvinstall/install_modes.h"
#include "qvinstall/settings.h"

namespace {

// "qvinstall v<version> ZAURUS AddInソフト転送" (add-in software transfer)
constexpr char title[] =
    "qvinstall v" SUITE_VERSION_TEXT " ZAURUS AddIn"
    "\x83\x5c\x83\x74\x83\x67\x93\x5d\x91\x97";

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
