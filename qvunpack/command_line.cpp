#include "qvunpack/command_line.h"

#include "pclink/console.h"
#include "pclink/local_files.h"

UnpackOptions parse_unpack_arguments(int argc, char** argv) {
  UnpackOptions options{nullptr, false, false};
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-' || argument[1] == '\0') {
      options.archive = argument;
      continue;
    }
    // Only the letter after the hyphen counts; the rest is ignored.
    switch (argument[1]) {
      case 'l':
        options.list_only = true;
        break;
      case 't':
        options.list_only = true;
        options.terse = true;
        break;
      default:
        options.archive = nullptr;
        return options;
    }
  }
  return options;
}

void print_unpack_banner() {
  print_banner(ConsoleStream::output, msg("title_qvunpack"), "\r\n");
}

void print_unpack_usage() {
  write_message(ConsoleStream::error, msg("usage_qvunpack"), {}, "");
}
