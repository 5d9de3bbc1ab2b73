// qvunpack on a POSIX host: "/" is the only path separator.
#include "qvunpack/host.h"

bool is_host_path_separator(std::uint8_t byte) {
  return byte == '/';
}
