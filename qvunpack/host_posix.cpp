// qvunpack on a POSIX host: "/" is the only path separator.
#include "qvunpack/host.h"

bool is_host_path_separator(std::uint8_t byte) {
  return byte == '/';
}

// Only a real Shift-JIS pair counts. "/" (0x2F), ":" and NUL are never
// second bytes, so a lead byte cannot hide them; "\\" (0x5C) is one, as in
// "ソ", and is no separator here anyway.
bool is_host_double_byte_character(std::uint8_t first, std::uint8_t second) {
  const bool lead = (first >= 0x81 && first <= 0x9F) || (first >= 0xE0 && first <= 0xFC);
  return lead && ((second >= 0x40 && second <= 0x7E) || (second >= 0x80 && second <= 0xFC));
}

// Device files live in their own folders here, never in a bare file name.
bool is_host_device_name(const char*) {
  return false;
}
