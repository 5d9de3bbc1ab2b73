// qvunpack: lists the members of a device backup archive and writes each
// one as a host file in the current directory.
#include "pclink/console.h"
#include "qvunpack/command_line.h"
#include "qvunpack/extractor.h"

int main(int argc, char** argv) {
  UnpackOptions options = parse_unpack_arguments(argc, argv);
  if (!options.terse) print_unpack_banner();
  if (options.archive == nullptr) {
    print_unpack_usage();
    return exit_done;
  }
  return extract_archive(options) == ExtractResult::done ? exit_done : exit_not_done;
}
