#include "qvunpack/command_line.h"

#include "pclink/console.h"
#include "pclink/local_files.h"

namespace {

constexpr OptionLetters unpack_letters{"lt", "", "", true};

}  // namespace

UnpackOptions parse_unpack_arguments(int argc, char** argv, CommandLineRefusal& refusal) {
  UnpackOptions options{nullptr, false, false};
  CommandLineReader reader = read_command_line(argc, argv);
  for (CommandLineItem item = next_item(reader, unpack_letters); item.kind != ItemKind::end;
       item = next_item(reader, unpack_letters)) {
    if (item.kind == ItemKind::refused) break;
    if (item.kind == ItemKind::name) {
      take_name(item, reader, options.archive);
    } else {
      options.list_only = true;
      options.terse = options.terse || item.letter == 't';
    }
  }
  refusal = reader.refusal;
  if (refusal.reason != nullptr) options.archive = nullptr;
  return options;
}

void print_unpack_banner() {
  print_banner(ConsoleStream::output, msg("title_qvunpack"), "\r\n");
}

void refuse_unpack_command_line(const CommandLineRefusal& refusal) {
  constexpr ProgramUsage usage{"qvunpack", msg("usage_qvunpack"), "", &msg("archive_name_missing")};
  end_refused_command_line(refusal, usage);
}
