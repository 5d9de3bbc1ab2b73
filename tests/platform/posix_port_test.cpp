// The POSIX port against a real pseudo-terminal: line settings, exclusive
// access, bounded reads, and a vanished device read as a failure.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include "pclink/platform.h"

namespace {

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
    if (master >= 0) {
      close(master);
    }
  }
  termios slave_settings() {
    int fd = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios line{};
    EXPECT_GE(fd, 0);
    EXPECT_EQ(tcgetattr(fd, &line), 0);
    close(fd);
    return line;
  }
  int master = -1;
  std::string slave_path;
};

using Clock = std::chrono::steady_clock;

long long elapsed_ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST_F(Pty, CableSettingsAreRaw19200WithoutParity) {
  ASSERT_TRUE(platform::open_port(slave_path.c_str(), {19200, false}));
  termios line = slave_settings();
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
}

TEST_F(Pty, RelaySettingsAre9600WithOddParity) {
  ASSERT_TRUE(platform::open_port(slave_path.c_str(), {9600, true}));
  termios line = slave_settings();
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
  // The pseudo-terminal driver forces PARENB off on every setting (it has
  // no parity to generate), but keeps PARODD as it was asked for.
  EXPECT_EQ(line.c_cflag & PARODD, static_cast<tcflag_t>(PARODD));
}

TEST_F(Pty, ARelaySessionAfterAnotherOpensTheSameLine) {
  for (int session = 1; session <= 3; ++session) {
    SCOPED_TRACE(session);
    ASSERT_TRUE(platform::open_port(slave_path.c_str(), {9600, true}));
    platform::close_port();
  }
  ASSERT_TRUE(platform::open_port(slave_path.c_str(), {19200, false}));
  termios line = slave_settings();
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
}

TEST_F(Pty, BytesMoveBothWaysUntranslated) {
  ASSERT_TRUE(platform::open_port(slave_path.c_str(), {19200, false}));
  for (std::uint8_t byte : {0x0A, 0x0D, 0x11, 0x13, 0x1A, 0xFF}) {
    ASSERT_EQ(platform::write_byte(100, byte).status, platform::Transfer::done);
    std::uint8_t seen = 0;
    ASSERT_EQ(read(master, &seen, 1), 1);
    EXPECT_EQ(seen, byte);
    ASSERT_EQ(write(master, &byte, 1), 1);
    platform::ReadResult result = platform::read_byte(100);
    ASSERT_EQ(result.status, platform::Transfer::done);
    EXPECT_EQ(result.byte, byte);
  }
}

TEST_F(Pty, AReadWaitsNoLongerThanItsTimeOut) {
  ASSERT_TRUE(platform::open_port(slave_path.c_str(), {19200, false}));
  Clock::time_point start = Clock::now();
  platform::ReadResult result = platform::read_byte(20);
  long long waited = elapsed_ms_since(start);
  EXPECT_EQ(result.status, platform::Transfer::timed_out);
  EXPECT_GE(waited, 190);
  EXPECT_LT(waited, 2000);
}

TEST_F(Pty, AVanishedDeviceIsAFailedReadNotATimeOut) {
  ASSERT_TRUE(platform::open_port(slave_path.c_str(), {19200, false}));
  close(master);
  master = -1;
  Clock::time_point start = Clock::now();
  platform::ReadResult result = platform::read_byte(500);
  EXPECT_EQ(result.status, platform::Transfer::failed);
  EXPECT_NE(result.error, 0);
  EXPECT_LT(elapsed_ms_since(start), 1000);
}

TEST_F(Pty, APortHeldByAnotherProgramIsNotOpened) {
  int holder = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(platform::open_port(slave_path.c_str(), {19200, false}));
  close(holder);
  EXPECT_TRUE(platform::open_port(slave_path.c_str(), {19200, false}));
}

TEST_F(Pty, TheOpenPortIsLockedAgainstOtherPrograms) {
  ASSERT_TRUE(platform::open_port(slave_path.c_str(), {19200, false}));
  int other = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other >= 0) {  // root may still open a TIOCEXCL terminal, but not take the lock
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
  } else {
    EXPECT_EQ(errno, EBUSY);
  }
}

TEST_F(Pty, MissingPortAndClosedPortFail) {
  EXPECT_FALSE(platform::open_port("/nonexistent/tty", {19200, false}));
  platform::WriteResult write = platform::write_byte(100, 0x01);
  EXPECT_EQ(write.status, platform::Transfer::failed);
  EXPECT_EQ(write.error, EBADF);
  EXPECT_EQ(platform::read_byte(100).status, platform::Transfer::failed);
}

}  // namespace
