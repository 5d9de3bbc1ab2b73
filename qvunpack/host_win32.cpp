// qvunpack on Windows: both slashes separate path components and a colon
// names a drive or a file stream. Standard input opens in text mode, which
// would end an archive at its first 0x1A end line.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "qvunpack/host.h"

bool is_host_path_separator(std::uint8_t byte) {
  return byte == '/' || byte == '\\' || byte == ':';
}

void use_untranslated_standard_input() {
  _setmode(_fileno(stdin), _O_BINARY);
}
