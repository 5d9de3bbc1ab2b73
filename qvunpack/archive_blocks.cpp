#include "qvunpack/archive_blocks.h"

#include "pclink/console.h"
#include "qvunpack/group_code.h"

namespace {

constexpr char archive_mark[] = "PABAK";
constexpr char end_of_block = 0x1A;

}  // namespace

BlockResult decode_block(FileRef& archive, std::uint8_t* destination, int capacity) {
  BlockResult result{0, false, false};
  std::uint8_t* position = destination;
  std::uint8_t* end = destination + capacity;
  char line[text_line_buffer_size];
  int length;
  while ((length = read_text_line(archive, line)) >= 0) {
    if (has_prefix(archive_mark, line) == 0) continue;
    if (line[0] == end_of_block) {
      result.good_end = has_prefix(archive_mark, line + 1) == 0;
      break;
    }
    // Only a line that filled the area can have carried more than it took;
    // its bytes are counted then, so full areas are told from overflowing
    // ones without a test per group.
    std::uint8_t* after = decode_line(line, length, position, end);
    if (after == end && !result.overflowed) {
      result.overflowed = line_byte_count(line, length) > after - position;
    }
    position = after;
  }
  result.length = static_cast<int>(position - destination);
  return result;
}
