#include "qvunpack/member_names.h"

#include "qvunpack/host.h"

char* squeeze_name(std::uint8_t* entry) {
  int kept = 0;
  for (int i = 0; i < member_name_length; ++i) {
    if (entry[i] != ' ') entry[kept++] = entry[i];
  }
  entry[kept] = '\0';
  return reinterpret_cast<char*>(entry);
}

bool is_safe_member_name(const char* name) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(name);
  bool only_dots = true;
  for (int i = 0; bytes[i] != '\0'; ++i) {
    if (is_host_double_byte_character(bytes[i], bytes[i + 1])) {
      only_dots = false;
      ++i;
      continue;
    }
    if (is_host_path_separator(bytes[i])) return false;
    if (bytes[i] != '.') only_dots = false;
  }
  // "" names no file; ".", ".." and their longer kin name folders.
  return !only_dots && !is_host_device_name(name);
}
