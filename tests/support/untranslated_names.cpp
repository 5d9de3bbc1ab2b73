// Names as the test stand-ins for the console see them: every text is the
// user's, and a name crosses to the device as it is, as in the C locale.
// Shared by the scripted console of the unit tests and the simulator.
#include <string>

#include "pclink/platform/console.h"

namespace platform {

void note_command_line(int, char**) {}

NameConversion device_name_from_user(const char*, std::string&) {
  return NameConversion::untranslated;
}

bool is_user_text(const char*, std::size_t) {
  return true;
}

bool user_text_from_shift_jis(const char*, std::size_t, std::string&) {
  return false;
}

}  // namespace platform
