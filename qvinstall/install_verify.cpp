#include "qvinstall/install_verify.h"

#include <cstdlib>

#include "pclink/file_commands.h"
#include "pclink/host_file_transfers.h"
#include "pclink/local_files.h"
#include "pclink/packet.h"

namespace {

constexpr std::uint8_t end_of_text = 0x1A;

}  // namespace

bool take_expected_copy(const char* host_name, bool end_mark,
                        std::vector<std::uint8_t>& expected) {
  std::uint8_t* block = load_file(host_name);
  if (block == nullptr) {
    return false;
  }
  expected.assign(block, block + loaded_size());
  std::free(block);
  if (end_mark) {
    expected.push_back(end_of_text);
  }
  return read_back_possible(host_name, static_cast<int>(expected.size()));
}

bool installed_file_matches(const char* device_name, const std::vector<std::uint8_t>& expected) {
  wait_for(ENQ);
  return read_back_matches(device_name, expected.data(), static_cast<int>(expected.size()));
}
