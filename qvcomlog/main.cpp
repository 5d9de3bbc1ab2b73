// qvcomlog: sends a host file into one of the device's communication-log
// files COM0.LOG to COM8.LOG behind a log record header, or with -g fetches
// a log file to the host as it is.
#include "pclink/console.h"
#include "pclink/file_commands.h"
#include "pclink/serial_port.h"
#include "pclink/version_text.h"
#include "qvcomlog/log_command.h"

namespace {

// "qvcomlog v<version> ZAURUSネットファイル転送" (ZAURUS net file transfer)
constexpr char title[] =
    "qvcomlog v" SUITE_VERSION_TEXT " ZAURUS"
    "\x83\x6c\x83\x62\x83\x67\x83\x74\x83\x40\x83\x43\x83\x8b\x93\x5d\x91\x97";

constexpr char usage[] =
    "usage: qvcomlog    [-s0|1|2] [-cN] <file>    (X68K->ZaurusNetLog)\r\n"
    "       qvcomlog -g [-s0|1|2] [-cN] <file>    (ZaurusNetLog->X68K)\r\n";

// The header and the host file travel as one device file.
int send_log_file(int log_slot, const char* host_name, const char* device_name, bool verify) {
  char header[log_header_length + 1];
  log_header(log_slot, header);
  return send_host_file(host_name, device_name, header, log_header_length, verify);
}

int fetch_log_file(const char* host_name, const char* device_name) {
  return fetch_to_host_file(device_name, host_name);
}

}  // namespace

int main(int argc, char** argv) {
  print_line(title, author_suffix);
  LogCommand command = parse_log_command(argc, argv);
  if (command.host_name == nullptr) {
    print_text(usage);
    exit_program(exit_done);
  }
  open_port(command.link_mode);
  char device_name[log_device_name_size];
  log_device_name(command.log_slot, device_name);
  int outcome = command.fetch ? fetch_log_file(command.host_name, device_name)
                              : send_log_file(command.log_slot, command.host_name, device_name, command.verify);
  close_port();
  exit_program(outcome);
}
