// qvunpack on a POSIX host: "/" is the only path separator.
#include "qvunpack/host.h"

bool is_host_path_separator(std::uint8_t byte) {
  return byte == '/';
}

// Device files live in their own folders here, never in a bare file name.
bool is_host_device_name(const char*) {
  return false;
}
