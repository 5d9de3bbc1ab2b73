// qvunpack on a POSIX host: "/" is the only separator, and standard input
// carries bytes untranslated already.
#include "qvunpack/host.h"

bool is_host_path_separator(std::uint8_t byte) {
  return byte == '/';
}

void use_untranslated_standard_input() {}
