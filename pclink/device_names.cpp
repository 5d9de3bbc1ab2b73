#include "pclink/device_names.h"

#include <cstring>

#include "pclink/console.h"
#include "pclink/platform_console.h"

namespace {

bool is_ascii(const char* name) {
  for (; *name != '\0'; ++name) {
    if (static_cast<unsigned char>(*name) >= 0x80) return false;
  }
  return true;
}

}  // namespace

bool device_name_from_user_name(const char* name, std::string& device_name) {
  if (is_ascii(name)) {
    device_name = name;
    return true;
  }
  switch (platform::device_name_from_user(name, device_name)) {
    case platform::NameConversion::converted:
      return true;
    case platform::NameConversion::untranslated:
      device_name = name;
      return true;
    case platform::NameConversion::unrepresentable:
      break;
  }
  print_host_line(name, ": the device cannot store this name (a character has no Shift-JIS form)");
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
