// Shared by the Packet tests: the fixture, a cable port without echo.
#pragma once

#include <gtest/gtest.h>

#include "pclink/echo.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"

namespace packet_test {

class Packets : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
  }
};

}  // namespace packet_test
