#include "qvunpack/command_line.h"

#include <string>

#include "pclink/console.h"
#include "pclink/local_files.h"
#include "qvunpack/messages.h"

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
  // One text, so that the banner line is written whole.
  std::string banner = std::string(unpack_title) + author_suffix + "\r\n";
  write_text(ConsoleStream::output, TextOrigin::shift_jis, banner.c_str());
}

void print_unpack_usage() {
  write_text(ConsoleStream::error, TextOrigin::shift_jis, unpack_usage);
}
