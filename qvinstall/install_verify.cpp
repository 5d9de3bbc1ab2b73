#include "qvinstall/install_verify.h"

#include <cstdio>

#include "pclink/local_files.h"
#include "pclink/packet.h"
#include "qvinstall/settings.h"

bool read_install_file(const char* name, std::vector<std::uint8_t>& bytes) {
  FileRef file;
  if (!open_input(file, name)) {
    return false;
  }
  std::uint8_t block[4096];
  for (int count; (count = read_block(file, block, sizeof block)) > 0;) {
    bytes.insert(bytes.end(), block, block + count);
  }
  // A folder opens like a file on some hosts, and then fails its first read.
  bool whole = std::ferror(file.stream) == 0;
  close_file(file);
  return whole;
}

WriteCheck prove_installed_file(const char* device_name, const std::vector<std::uint8_t>& expected, bool unproven) {
  if (!unproven && !install_settings.verify) {
    return WriteCheck::whole;
  }
  wait_for(ENQ);
  return check_written_file(device_name, expected.data(), static_cast<int>(expected.size()), unproven,
                            install_settings.verify);
}
