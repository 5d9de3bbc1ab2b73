// The fixture of the port layer's unit tests: a scripted port back at its
// start, not yet opened; and one byte sent as a unit of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override;
};

// One byte as a unit of its own, as a control byte goes out.
void send_one(std::uint8_t byte);
