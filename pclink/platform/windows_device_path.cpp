#include "pclink/platform/windows_device_path.h"

#include <cctype>
#include <cstdlib>

namespace platform {

// Windows reserves only COM1 to COM9 as plain device names; any higher
// port can be opened only through the device namespace, "\\.\COM10". The
// colon of the old device syntax ("COM3:") is dropped: with it a higher
// port's name would be taken for a file's.
std::string windows_device_path(const char* name) {
  bool com_prefix = std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
                    std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
                    std::toupper(static_cast<unsigned char>(name[2])) == 'M';
  if (!com_prefix || name[3] == '\0') {
    return name;
  }
  const char* digit = name + 3;
  while (std::isdigit(static_cast<unsigned char>(*digit))) ++digit;
  const bool colon_ended = digit[0] == ':' && digit[1] == '\0';
  if (digit == name + 3 || (*digit != '\0' && !colon_ended)) {
    return name;
  }
  const std::string port(name, digit);
  if (std::strtol(name + 3, nullptr, 10) <= 9) {
    return port;
  }
  return "\\\\.\\" + port;
}

}  // namespace platform
