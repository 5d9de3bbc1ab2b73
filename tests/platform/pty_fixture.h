// A pseudo-terminal for the platform tests: its master plays the device,
// the slave is the port the platform file opens.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "pclink/platform/port.h"

// A pseudo-terminal whose master plays the device.
class Pty : public ::testing::Test {
 protected:
  void SetUp() override {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    slave_path = ptsname(master);
  }
  void TearDown() override {
    platform::close_port();
    if (holder >= 0) {
      close(holder);
    }
    if (master >= 0) {
      close(master);
    }
  }
  // Keeps the slave open, set as a user's terminal is (2400 baud, line
  // editing, echo, XON/XOFF), and returns those settings as found. (A
  // pseudo-terminal keeps 8 bits and no parity whatever it is asked for.)
  termios hold_line_as_a_terminal() {
    holder = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios line{};
    EXPECT_GE(holder, 0);
    EXPECT_EQ(tcgetattr(holder, &line), 0);
    line.c_lflag |= ICANON | ECHO | ISIG;
    line.c_iflag |= IXON | ICRNL;
    line.c_oflag |= OPOST;
    cfsetispeed(&line, B2400);
    cfsetospeed(&line, B2400);
    EXPECT_EQ(tcsetattr(holder, TCSANOW, &line), 0);
    EXPECT_EQ(tcgetattr(holder, &line), 0);
    return line;
  }
  termios held_line() {
    termios line{};
    EXPECT_EQ(tcgetattr(holder, &line), 0);
    return line;
  }
  // The settings as another program on the line sees them.
  termios slave_settings() {
    int fd = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios line{};
    EXPECT_GE(fd, 0);
    EXPECT_EQ(tcgetattr(fd, &line), 0);
    close(fd);
    return line;
  }
  int master = -1;
  int holder = -1;
  std::string slave_path;
};

// One byte through the platform's unit transfers.
struct OneByte {
  platform::Transfer status;
  std::uint8_t byte;
  int error;
};

inline OneByte read_one(int timeout_ms) {
  std::uint8_t byte = 0;
  std::uint8_t damage = 0;
  platform::ReadResult result = platform::read_bytes(&byte, &damage, 1, {1, timeout_ms, 0});
  return {result.status, byte, result.error};
}

inline platform::WriteResult write_one(int timeout_ms, std::uint8_t byte) {
  return platform::write_bytes(&byte, 1, timeout_ms);
}

inline void expect_same_line(const termios& found, const termios& now) {
  EXPECT_EQ(now.c_iflag, found.c_iflag);
  EXPECT_EQ(now.c_oflag, found.c_oflag);
  EXPECT_EQ(now.c_cflag, found.c_cflag);
  EXPECT_EQ(now.c_lflag, found.c_lflag);
  EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&found));
  EXPECT_EQ(cfgetispeed(&now), cfgetispeed(&found));
  for (int i = 0; i < NCCS; ++i) {
    EXPECT_EQ(now.c_cc[i], found.c_cc[i]) << "c_cc[" << i << "]";
  }
}

