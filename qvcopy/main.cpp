// qvcopy: copies one file from the host to the device's storage, or with -g
// from the device to the host.
#include <string>

#include "pclink/console.h"
#include "pclink/device_names.h"
#include "pclink/file_commands.h"
#include "pclink/host_file_fetches.h"
#include "pclink/host_file_transfers.h"
#include "pclink/program_help.h"
#include "pclink/serial_port.h"
#include "qvcopy/copy_command.h"

namespace {

constexpr ProgramHelp help{
    "qvcopy",
    "qvcopy copies one file from this computer to the device's storage S1:, or\n"
    "with -g from the device to this computer.\n"
    "\n"
    "usage: qvcopy    [options] <host file> [<device name>]\n"
    "       qvcopy -g [options] <device name> [<host file>]\n"
    "\n"
    "The device name defaults to the host file's name without its folders\n"
    "(../notes/memo.txt is written as S1:memo.txt); the host file of -g defaults\n"
    "to the device name, in the current folder. A name is used with its case.\n"
    "\n"
    "Options, which may be grouped (-vg): -s takes its digit attached, -d and -m\n"
    "their value attached or as the next argument:\n"
    "  -g         fetch the device file instead of sending the host file\n"
    "  -m<size>   room for a fetched file in bytes, K or M suffix (default and\n"
    "             at most 16777214); a larger file is not saved\n"
    "  -v         read the written file back and compare it, or with -g read the\n"
    "             device file twice and compare (about twice the time)\n",
    true,
    "the device refused or is not connected, the device file is\n"
    "       missing, a host file cannot be read or written, the device did not\n"
    "       confirm the write, or the read-back or the reads differ",
    "  qvcopy -d /dev/ttyUSB0 memo.txt          memo.txt to S1:memo.txt\n"
    "  qvcopy -d /dev/ttyUSB0 -g MEMO.TXT new   S1:MEMO.TXT to the host file new\n",
};

constexpr ProgramUsage usage{"qvcopy", msg("usage_qvcopy"), "-d <port>, -C, -v and -m<size>",
                             &msg("file_name_missing")};

int copy_to_device(const char* host_name, const char* device_name, bool verify) {
  return send_host_file(host_name, device_name, "", 0, verify);
}

int copy_from_device(const char* device_name, const char* host_name, int room, bool verify) {
  return fetch_to_host_file(device_name, host_name, room, verify);
}

}  // namespace

int main(int argc, char** argv) {
  answer_help_or_version(argc, argv, help);
  note_command_line(argc, argv);
  print_banner(ConsoleStream::error, msg("title_qvcopy"), "\n");
  CopyCommand command = parse_copy_command(argc, argv);
  if (command.first_name == nullptr) end_refused_command_line(command.refusal, usage);
  // A host name stays as the shell gave it. One that defaults to the device
  // name is that name in the user's own character set: a Shift-JIS name
  // copied from the device's list becomes a file name the user can read.
  std::string host_name = command.fetch ? command.second_name : command.first_name;
  if (command.fetch && command.second_name_defaulted) host_name = host_name_for_device_name(command.first_name);
  std::string device_name;
  if (!device_name_from_user_name(command.fetch ? command.first_name : command.second_name, device_name)) {
    exit_program(exit_not_done);
  }
  open_port(command.link_mode);
  int outcome = command.fetch ? copy_from_device(device_name.c_str(), host_name.c_str(), command.fetch_room, command.verify)
                              : copy_to_device(host_name.c_str(), device_name.c_str(), command.verify);
  close_port();
  exit_program(outcome);
}
