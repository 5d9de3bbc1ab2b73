// Shared by the host file tests: the device's consent before the rest of its
// answers, and the fixture with its fresh folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "pclink/echo.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"

namespace host_file_transfers_test {

namespace fs = std::filesystem;
using scripted_port::Bytes;
using scripted_port::packet_bytes;

inline std::vector<Bytes> with_consent(std::vector<Bytes> rest) {
  std::vector<Bytes> answers = {{ACK}, {ACK}, packet_bytes(1, "DOK"), {EOT}, {ENQ}};
  answers.insert(answers.end(), rest.begin(), rest.end());
  return answers;
}

class HostFileTransfers : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    folder = fs::temp_directory_path() / ("qv_host_files_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  fs::path folder;
};

}  // namespace host_file_transfers_test
