// qvunpack on Windows: both slashes separate path components, and a colon
// names a drive or a file's alternate stream.
#include "qvunpack/host.h"

bool is_host_path_separator(std::uint8_t byte) {
  return byte == '/' || byte == '\\' || byte == ':';
}
