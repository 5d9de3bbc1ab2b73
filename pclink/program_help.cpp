#include "pclink/program_help.h"

#include <cstdio>
#include <cstring>

#include "pclink/console.h"
#include "pclink/local_files.h"
#include "pclink/version.h"

namespace {

constexpr char port_options[] =
    "  -d <port>  the serial port (default COM2): /dev/ttyUSB0, /dev/cu.usbserial-1,\n"
    "             COM3, ...\n"
    "  -s0        cable at 9600 baud\n"
    "  -s1        cable at 19200 baud (the default)\n"
    "  -s2        optical relay adapter (9600 baud, odd parity)\n"
    "  -C         echo suppression off, for a cable that does not hand the sent\n"
    "             bytes back\n";

constexpr char shared_options[] =
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

constexpr char line_failed[] =
    "  1    the line failed: no answer within 10 s (\"TimeOut\"), or a port that\n"
    "       died under the relay adapter (-s2)\n";

constexpr char interrupted[] = "  130  interrupted by Ctrl-C; 143 by SIGTERM, 129 by SIGHUP (128 + signal)\n";

void print_help(const ProgramHelp& help) {
  std::fputs(help.text, stdout);
  if (help.device_program) std::fputs(port_options, stdout);
  std::fputs(shared_options, stdout);
  std::fputs("\nExit codes:\n  0    done\n", stdout);
  if (help.device_program) std::fputs(line_failed, stdout);
  std::printf("  2    not done: %s,\n       or a rejected command line (the usage text is shown)\n", help.not_done);
  std::fputs(interrupted, stdout);
  std::printf("\nExample:\n%s", help.example);
}

// The text is the job: one that did not reach standard output whole (a
// full disk, /dev/full) is no job done.
[[noreturn]] void end_after(const char* what) {
  if (output_written_whole()) exit_program(exit_done);
  print_message(msg("output_not_written"), {what});
  exit_program(exit_not_done);
}

}  // namespace

void answer_help_or_version(int argc, char** argv, const ProgramHelp& help) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      print_help(help);
      end_after("help");
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s %s\n", help.program, suite_version);
      end_after("version");
    }
  }
}
