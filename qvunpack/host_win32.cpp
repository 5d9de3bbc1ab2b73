// qvunpack on Windows: both slashes separate path components, and a colon
// names a drive or a file's alternate stream.
#include "qvunpack/host.h"

#include <cctype>
#include <cstring>
#include <windows.h>

bool is_host_path_separator(std::uint8_t byte) {
  return byte == '/' || byte == '\\' || byte == ':';
}

// The file system reads a name through the ANSI code page: after one of its
// lead bytes the next byte belongs to the same character, "\\" included (the
// 0x5C of many code page 932 characters). Under any other code page the same
// byte is a lead byte of nothing, and "A\x81\\EVIL" names a folder. "/" and
// ":" are second bytes in no double-byte code page, so they always separate.
bool is_host_double_byte_character(std::uint8_t first, std::uint8_t second) {
  return IsDBCSLeadByte(first) && second != '\0' && second != '/' && second != ':';
}

namespace {

// True when the name, up to its first dot and in any case, is device.
bool stem_equals(const char* name, const char* device) {
  std::size_t length = std::strlen(device);
  for (std::size_t i = 0; i < length; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != device[i]) return false;
  }
  return name[length] == '\0' || name[length] == '.';
}

}  // namespace

bool is_host_device_name(const char* name) {
  static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
                                        "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",
                                        "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  for (const char* device : devices) {
    if (stem_equals(name, device)) return true;
  }
  return false;
}
