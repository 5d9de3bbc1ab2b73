// The console as the unit tests see it: always redirected, whatever runs
// them, so that what they capture from the standard streams is the bytes a
// pipe gets, also when a developer runs them at a terminal.
#include <cstdio>

#include "pclink/platform_console.h"

namespace platform {

ConsoleKind console_kind(ConsoleStream) {
  return ConsoleKind::redirected;
}

void write_converted(ConsoleStream stream, TextOrigin, const char* text, std::size_t length) {
  std::fwrite(text, 1, length, stream == ConsoleStream::output ? stdout : stderr);
}

std::size_t terminal_columns(ConsoleStream) {
  return 0;
}

NameConversion device_name_from_user(const char*, std::string&) {
  return NameConversion::untranslated;
}

}  // namespace platform
