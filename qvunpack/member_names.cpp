#include "qvunpack/member_names.h"

#include <utility>

#include "pclink/device_names.h"
#include "qvunpack/host.h"

namespace {

bool is_shift_jis_lead_byte(std::uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// "/" (0x2F), ":" and NUL are never second bytes, so a lead byte cannot hide
// them; "\\" (0x5C) is one, as in "ソ".
bool is_shift_jis_second_byte(std::uint8_t byte) {
  return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

}  // namespace

char* squeeze_name(std::uint8_t* entry) {
  int kept = 0;
  for (int i = 0; i < member_name_length; ++i) {
    if (entry[i] != ' ') entry[kept++] = entry[i];
  }
  entry[kept] = '\0';
  return reinterpret_cast<char*>(entry);
}

bool is_safe_member_name(const char* name, bool shift_jis) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(name);
  bool only_dots = true;
  for (int i = 0; bytes[i] != '\0'; ++i) {
    if (shift_jis && is_shift_jis_lead_byte(bytes[i]) && is_shift_jis_second_byte(bytes[i + 1])) {
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

MemberHostName member_host_name(const char* member_name) {
  std::string name = host_name_from_shift_jis(member_name);
  const bool converted = name != member_name;
  return {std::move(name), !converted};
}
