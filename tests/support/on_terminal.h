// The fixture of the end-to-end tests that run a device program on a
// pseudo-terminal in a Japanese UTF-8 locale, from a fresh working folder,
// against an emulator the fixture stops again whatever the test did.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/e2e.h"

class OnTerminal : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Starts the emulator with emulator_args, runs program on the terminal
  // against it, and stops it, its trace kept in trace.
  RunResult run(const std::string& program, std::vector<std::string> args,
                std::vector<std::string> emulator_args = {});

  std::string host;   // the program's working folder
  Emulator emulator;  // a test may start its own; TearDown stops it
  std::string trace;
};
