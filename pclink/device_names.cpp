#include "pclink/device_names.h"

#include <cstring>

#include "pclink/console.h"
#include "pclink/platform/console.h"

void note_command_line(int argc, char** argv) {
  platform::note_command_line(argc, argv);
}

// Asked of the platform even for an ASCII name: on Windows the "?" of an
// ANSI argument may stand for a character the code page lacks.
bool device_name_from_user_name(const char* name, std::string& device_name) {
  switch (platform::device_name_from_user(name, device_name)) {
    case platform::NameConversion::converted:
      return true;
    case platform::NameConversion::untranslated:
      device_name = name;
      return true;
    case platform::NameConversion::unrepresentable:
      break;
  }
  print_message(msg("unstorable_name"), {host_value(name)});
  return false;
}

std::string host_name_for_device_name(const char* name) {
  if (platform::is_user_text(name, std::strlen(name))) return name;
  return host_name_from_shift_jis(name);
}

std::string host_name_from_shift_jis(const char* name) {
  std::string host_name;
  return platform::user_text_from_shift_jis(name, std::strlen(name), host_name) ? host_name : std::string(name);
}
