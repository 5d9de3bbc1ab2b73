// The port layer's settings against the scripted port: baud, parity and
// relay per link mode, the port's name and its limit, and the pause ticks.
#include <gtest/gtest.h>

#include <string>

#include "pclink/link_options.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"
#include "support/serial_port_fixture.h"

namespace {

TEST_F(SerialPort, LinkModesChooseBaudParityAndRelay) {
  struct Case {
    int mode;
    int baud;
    bool odd_parity;
    bool relay;
  };
  for (Case c : {Case{0, 9600, false, false}, Case{1, 19200, false, false}, Case{2, 9600, true, true},
                 Case{3, 9600, false, false}}) {
    scripted_port::reset();
    open_port(c.mode);
    EXPECT_EQ(scripted_port::opened_settings().baud, c.baud) << "mode " << c.mode;
    EXPECT_EQ(scripted_port::opened_settings().odd_parity, c.odd_parity) << "mode " << c.mode;
    EXPECT_EQ(relay_active, c.relay) << "mode " << c.mode;
  }
}

TEST_F(SerialPort, LinkModeIsTheLowTwoBitsOfTheThirdCharacter) {
  EXPECT_EQ(link_mode_from_value("0"), 0);
  EXPECT_EQ(link_mode_from_value("1"), 1);
  EXPECT_EQ(link_mode_from_value("2"), 2);
  EXPECT_EQ(link_mode_from_value("3"), 3);
  EXPECT_EQ(link_mode_from_value(nullptr), 0);
  EXPECT_EQ(link_mode_from_value("5"), 1);  // '5' is 0x35
}

TEST_F(SerialPort, PortNameDefaultsToCom2AndRefusesOverlongNames) {
  open_port(1);
  EXPECT_EQ(scripted_port::opened_name(), "COM2");
  std::string longest(port_name_max_length, 'x');
  EXPECT_EQ(set_port_name(longest.c_str()), 1);
  EXPECT_EQ(std::string(current_port_name()), longest);
  std::string too_long(port_name_max_length + 1, 'y');
  EXPECT_EQ(set_port_name(too_long.c_str()), 0);
  EXPECT_EQ(std::string(current_port_name()), longest);
}

TEST_F(SerialPort, OverlongPortOptionEndsTheProgramWithCodeTwo) {
  std::string too_long(200, 'z');
  EXPECT_EXIT(take_port_option(too_long.c_str()), ::testing::ExitedWithCode(2), "port name too long");
}

TEST_F(SerialPort, DelayTicksPausesSixMillisecondsEach) {
  delay_ticks(3);
  ASSERT_EQ(scripted_port::pauses_ms().size(), 1u);
  EXPECT_EQ(scripted_port::pauses_ms()[0], 18);
}

}  // namespace
