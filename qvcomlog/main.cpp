// qvcomlog: sends a host file into one of the device's communication-log
// files COM0.LOG to COM8.LOG behind a log record header, or with -g fetches
// a log file to the host as it is.
#include "pclink/console.h"
#include "pclink/file_commands.h"
#include "pclink/host_file_fetches.h"
#include "pclink/host_file_transfers.h"
#include "pclink/program_help.h"
#include "pclink/serial_port.h"
#include "qvcomlog/log_command.h"

namespace {

constexpr ProgramHelp help{
    "qvcomlog",
    "qvcomlog sends a host file into one of the device's communication-log files\n"
    "S1:COM0.LOG to S1:COM8.LOG, behind the 25-byte record header the device\n"
    "expects, or with -g fetches a log file to this computer byte for byte.\n"
    "\n"
    "usage: qvcomlog    [options] [-c<slot>] <host file>\n"
    "       qvcomlog -g [options] [-c<slot>] <host file>\n"
    "\n"
    "Options, which may be grouped (-gc3): -c and -s take their character attached,\n"
    "-d and -m their value attached or as the next argument:\n"
    "  -c<slot>   the log slot 0 to 8 (default 0); 9 and above select slot 0\n"
    "  -g         fetch the log file into the host file instead of sending it\n"
    "  -m<size>   room for a fetched file in bytes, K or M suffix (default and\n"
    "             at most 16777214); a larger file is not saved\n"
    "  -v         read the written file back and compare it, or with -g read the\n"
    "             device file twice and compare (about twice the time)\n",
    true,
    "the device refused or is not connected, the log file is\n"
    "       missing, a host file cannot be read or written, the device did not\n"
    "       confirm the write, or the read-back or the reads differ",
    "  qvcomlog -d /dev/ttyUSB0 -c3 memo.txt     header, memo.txt to S1:COM3.LOG\n"
    "  qvcomlog -d /dev/ttyUSB0 -g -c3 log3.txt  S1:COM3.LOG to log3.txt\n",
};

constexpr ProgramUsage usage{"qvcomlog", msg("usage_qvcomlog"), "-d <port>, -C, -v and -m<size>",
                             &msg("file_name_missing")};

// The header and the host file travel as one device file.
int send_log_file(int log_slot, const char* host_name, const char* device_name, bool verify) {
  char header[log_header_length + 1];
  log_header(log_slot, header);
  return send_host_file(host_name, device_name, header, log_header_length, verify);
}

int fetch_log_file(const char* host_name, const char* device_name, int room, bool verify) {
  return fetch_to_host_file(device_name, host_name, room, verify);
}

}  // namespace

int main(int argc, char** argv) {
  answer_help_or_version(argc, argv, help);
  print_banner(ConsoleStream::error, msg("title_qvcomlog"), "\n");
  LogCommand command = parse_log_command(argc, argv);
  if (command.host_name == nullptr) end_refused_command_line(command.refusal, usage);
  open_port(command.link_mode);
  char device_name[log_device_name_size];
  log_device_name(command.log_slot, device_name);
  int outcome = command.fetch ? fetch_log_file(command.host_name, device_name, command.fetch_room, command.verify)
                              : send_log_file(command.log_slot, command.host_name, device_name, command.verify);
  close_port();
  exit_program(outcome);
}
