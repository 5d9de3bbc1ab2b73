// qvcopy: copies one file from the host to the device's storage, or with -g
// from the device to the host.
#include <string>

#include "pclink/console.h"
#include "pclink/device_names.h"
#include "pclink/file_commands.h"
#include "pclink/serial_port.h"
#include "pclink/version_text.h"
#include "qvcopy/copy_command.h"

namespace {

// "qvcopy v<version> ZAURUS ファイルダイレクト転送" (file direct transfer)
constexpr char title[] =
    "qvcopy v" SUITE_VERSION_TEXT " ZAURUS "
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x83\x5f\x83\x43\x83\x8c\x83\x4e\x83\x67\x93\x5d\x91\x97";

constexpr char usage[] =
    "usage: qvcopy    [-s0|1|2] <fileX68> [<fileZAU>]      (X68K->ZAURUS)\r\n"
    "       qvcopy -g [-s0|1|2] <fileZAU> [<fileX68>]      (ZAURUS->X68K)\r\n";

int copy_to_device(const char* host_name, const char* device_name, bool verify) {
  return send_host_file(host_name, device_name, "", 0, verify);
}

int copy_from_device(const char* device_name, const char* host_name) {
  return fetch_to_host_file(device_name, host_name);
}

}  // namespace

int main(int argc, char** argv) {
  print_line(title, author_suffix);
  CopyCommand command = parse_copy_command(argc, argv);
  if (command.first_name == nullptr) {
    print_text(usage);
    exit_program(exit_done);
  }
  // The host name stays as the shell gave it, also where it defaults to the
  // device name: the user's own form of that name.
  const char* host_name = command.fetch ? command.second_name : command.first_name;
  std::string device_name;
  if (!device_name_from_user_name(command.fetch ? command.first_name : command.second_name, device_name)) {
    exit_program(exit_not_done);
  }
  open_port(command.link_mode);
  int outcome = command.fetch ? copy_from_device(device_name.c_str(), host_name)
                              : copy_to_device(host_name, device_name.c_str(), command.verify);
  close_port();
  exit_program(outcome);
}
