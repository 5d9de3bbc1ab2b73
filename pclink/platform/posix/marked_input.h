// Received bytes as a line with PARMRK delivers them, internal to the POSIX
// platform files: a byte that came with a parity or framing error arrives as
// 0xFF 0x00 and the byte, a break as 0xFF 0x00 0x00, and a data byte 0xFF
// doubled. A mark may be split between two reads.
#pragma once

#include <cstdint>

namespace platform_posix {

// What is left of a mark at the end of the last read.
struct MarkedInput {
  int held = 0;  // 0: nothing; 1: 0xFF; 2: 0xFF 0x00
};

// Decodes count bytes in place into the data they stand for, setting
// damage[i] to 1 for a byte that came damaged (a break reads as a damaged
// 0x00) and to 0 for a sound one. Returns the number of data bytes.
int decode_marked(std::uint8_t* bytes, std::uint8_t* damage, int count, MarkedInput& state);

}  // namespace platform_posix
