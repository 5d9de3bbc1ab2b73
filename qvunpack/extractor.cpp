#include "qvunpack/extractor.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "pclink/console.h"
#include "pclink/device_names.h"
#include "pclink/file_saves.h"
#include "pclink/local_files.h"
#include "qvunpack/archive_blocks.h"
#include "qvunpack/member_names.h"

namespace {

constexpr int directory_lead_size = 6;
constexpr int entry_size = 20;
constexpr int entry_size_offset = 17;
constexpr int listing_size_width = 8;

int member_size(const std::uint8_t* entry) {
  const std::uint8_t* size = entry + entry_size_offset;
  return size[0] | (size[1] << 8) | (size[2] << 16);
}

// Only entries wholly inside the decoded directory count: one cut short
// would be read from bytes the directory never held.
int entry_count(int directory_length) {
  if (directory_length < directory_lead_size) return 0;
  return (directory_length - directory_lead_size) / entry_size;
}

void print_listing_line(int size, const char* name, bool terse) {
  // Size field, two spaces, a name of at most 12 bytes, NUL.
  char line[listing_size_width + 2 + member_name_length + 1];
  char* position = line;
  if (!terse) {
    position = format_decimal(size, listing_size_width, position);
    position = copy_string(position, "  ");
  }
  copy_string(position, name);
  // Member names come from the archive: a terminal gets them made harmless.
  write_text(ConsoleStream::output, TextOrigin::shift_jis, line);
  write_text(ConsoleStream::output, TextOrigin::shift_jis, "\r\n");
}

// Every message of the extractor carries its own CR LF.
constexpr char line_end[] = "\r\n";

void report(ConsoleStream stream, const Message& message, std::initializer_list<MessageValue> values = {}) {
  write_message(stream, message, values, line_end);
}

// Writes a decoded member unless its name would leave the current directory.
// The checks look at the name actually written, converted or not; the
// messages name the member as the archive does.
bool write_member(const char* name, const std::uint8_t* bytes, int size) {
  const std::string host_name = host_name_from_shift_jis(name);
  if (!is_safe_member_name(host_name.c_str())) {
    report(ConsoleStream::error, msg("member_name_unsafe"), {name});
    return false;
  }
  if (save_file_whole(host_name.c_str(), bytes, size) == 0) {
    report(ConsoleStream::error, msg("member_cannot_create"), {name});
    return false;
  }
  return true;
}

// Decodes one member's block and writes it. good_end receives how the block
// ended. Returns true when the member was listed or written as asked.
bool extract_member(FileRef& archive, const char* name, int size, const UnpackOptions& options,
                    bool& good_end) {
  // Twice the size, so that a block somewhat too long still lands inside and
  // is caught by the length test; at least one byte for an empty member.
  int capacity = size > 0 ? 2 * size : 1;
  auto* buffer = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(capacity)));
  if (buffer == nullptr) {
    report(ConsoleStream::error, msg("member_no_memory"));
    // Read past the block, so that the next entry decodes its own.
    good_end = decode_block(archive, nullptr, 0).good_end;
    return false;
  }
  BlockResult block = decode_block(archive, buffer, capacity);
  good_end = block.good_end;
  bool done = true;
  if (block.length != size) {
    report(ConsoleStream::error, msg("member_size_wrong"));
    done = false;
  } else if (!options.list_only) {
    done = write_member(name, buffer, size);
  }
  std::free(buffer);
  return done;
}

}  // namespace

ExtractResult extract_archive(const UnpackOptions& options) {
  FileRef archive{};
  if (open_input(archive, options.archive) == 0) {
    report(ConsoleStream::error, msg("cannot_open"), {host_value(options.archive)});
    return ExtractResult::not_opened;
  }
  std::uint8_t directory[directory_area_size] = {};
  BlockResult listing = decode_block(archive, directory, directory_area_size);
  int entries = entry_count(listing.length);
  bool all_done = true;
  bool good_end = listing.good_end;
  // A directory too long for the area, or a file that is no archive at all,
  // has no entries to trust.
  if (listing.overflowed || (entries == 0 && !good_end)) {
    report(ConsoleStream::output, msg("archive_damaged"));
    all_done = false;
    entries = 0;
  }
  for (int i = 0; i < entries; ++i) {
    std::uint8_t* entry = directory + directory_lead_size + i * entry_size;
    int size = member_size(entry);
    const char* name = squeeze_name(entry);
    // The block before this entry: the directory, or the previous member.
    if (!good_end) {
      report(ConsoleStream::output, msg("archive_damaged"));
      all_done = false;
      break;
    }
    print_listing_line(size, name, options.terse);
    if (!extract_member(archive, name, size, options, good_end)) all_done = false;
  }
  close_file(archive);
  return all_done ? ExtractResult::done : ExtractResult::incomplete;
}
