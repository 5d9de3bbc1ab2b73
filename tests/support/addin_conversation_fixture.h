// The fixture of the installer's conversation tests: each test runs in a
// fresh folder of its own, on an open scripted port without echo, with the
// installer's settings at their defaults; and the steps those tests share.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scripted_port.h"
#include "support/test_files.h"

class AddinConversation : public ::testing::Test {
 protected:
  void SetUp() override;

  static void write_file(const std::string& name, const std::string& bytes) { write_whole_file(name, bytes); }

  // The device ready, consenting to "CFD", then taking a train of data_packets.
  static void script_file(int data_packets, const std::string& final_reply = "AEX");

  // Sends name (copied, since the routine changes it) and returns stderr.
  static std::string send(const std::string& name, int expected_result = 1);

  // The units the host wrote after the "CFD" exchange that opens the file.
  static std::vector<scripted_port::Bytes> units_after_cfd();

  InTempFolder folder{"qv_install"};
};
