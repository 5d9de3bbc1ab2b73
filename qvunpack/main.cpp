// qvunpack: lists the members of a device backup archive and writes each
// one as a host file in the current directory.
#include "pclink/console.h"
#include "pclink/local_files.h"
#include "pclink/program_help.h"
#include "qvunpack/command_line.h"
#include "qvunpack/extractor.h"

namespace {

constexpr ProgramHelp help{
    "qvunpack",
    "qvunpack reads a device backup archive, lists its members and writes each\n"
    "one as a file in the current folder. It works offline, without the port.\n"
    "The banner and the listing go to standard output, messages to standard\n"
    "error. A member name that would land outside the current folder is refused.\n"
    "\n"
    "usage: qvunpack [-l] [-t] <backup file>   (- reads it from standard input)\n"
    "\n"
    "Options:\n"
    "  -l         list the members with their sizes, write nothing\n"
    "  -t         list the member names alone, without the banner, write nothing\n",
    false,
    "the archive cannot be opened or is damaged, or a member\n"
    "       was not written",
    "  qvunpack -l backup.bak                   what the archive holds\n"
    "  qvunpack backup.bak                      every member into the current folder\n",
};

}  // namespace

int main(int argc, char** argv) {
  answer_help_or_version(argc, argv, help);
  CommandLineRefusal refusal;
  UnpackOptions options = parse_unpack_arguments(argc, argv, refusal);
  if (!options.terse) print_unpack_banner();
  if (options.archive == nullptr) refuse_unpack_command_line(refusal);
  const bool extracted = extract_archive(options) == ExtractResult::done;
  // The banner and the listing go to standard output, and a listing cut
  // short there (a full disk) is no listing.
  if (!output_written_whole()) {
    print_message(msg("output_not_written"), {"listing"});
    return exit_not_done;
  }
  return extracted ? exit_done : exit_not_done;
}
