// Blocks of a backup archive.
//
// Principles of operation: an archive is a text file of lines. A line that
// begins with "PABAK" is a header and is skipped wherever it stands; a line
// whose first byte is 0x1A ends the current block, well when "PABAK" follows
// the 0x1A, badly otherwise; every other line carries bytes in the group
// encoding. A block is a run of lines up to its end line or the end of the
// file, and its content is the bytes of its data lines in order.
#pragma once

#include <cstdint>

#include "pclink/local_files.h"

struct BlockResult {
  int length;       // bytes stored
  bool good_end;    // the block ended with 0x1A "PABAK"
  bool overflowed;  // it carried more than capacity bytes; the rest was dropped
};

// Reads lines from the archive until its block ends, decoding its data lines
// into destination, which holds capacity bytes. A block longer than that is
// still read to its end, so that the next block starts where it should; a
// capacity of 0 reads and discards a block.
BlockResult decode_block(FileRef& archive, std::uint8_t* destination, int capacity);
