// The POSIX port against a real pseudo-terminal: line settings, exclusive
// access, bounded reads, and a vanished device read as a failure. Built
// twice, waiting in poll() and in select().
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "pclink/platform/port.h"
#include "platform/child_process.h"
#include "platform/interposed_calls.h"
#include "platform/pty_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

bool opens(const std::string& path, const platform::LineSettings& settings) {
  return platform::open_port(path.c_str(), settings).failure == platform::OpenFailure::none;
}

long long elapsed_ms_since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A pseudo-terminal hands bytes on at once, at no line's pace, also by a
// link to it; a serial device (or any other file) is taken to keep it.
TEST_F(Pty, APseudoTerminalKeepsNoLinesPace) {
  EXPECT_FALSE(platform::line_keeps_pace(slave_path.c_str()));
  const std::string link = "/tmp/qv-pace-link-" + std::to_string(getpid());
  ASSERT_EQ(symlink(slave_path.c_str(), link.c_str()), 0);
  EXPECT_FALSE(platform::line_keeps_pace(link.c_str()));
  unlink(link.c_str());
  EXPECT_TRUE(platform::line_keeps_pace("/dev/ttyS0"));
}

TEST_F(Pty, CableSettingsAreRaw19200WithoutParity) {
  ASSERT_TRUE(opens(slave_path, {19200, false}));
  termios line = slave_settings();
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(line.c_oflag & OPOST, 0u);
}

TEST_F(Pty, RelaySettingsAre9600WithOddParity) {
  ASSERT_TRUE(opens(slave_path, {9600, true}));
  termios line = slave_settings();
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
  // The pseudo-terminal driver forces PARENB off on every setting (it has
  // no parity to generate), but keeps PARODD as it was asked for.
  EXPECT_EQ(line.c_cflag & PARODD, static_cast<tcflag_t>(PARODD));
}

TEST_F(Pty, ARelaySessionAfterAnotherOpensTheSameLine) {
  for (int session = 1; session <= 3; ++session) {
    SCOPED_TRACE(session);
    ASSERT_TRUE(opens(slave_path, {9600, true}));
    platform::close_port();
  }
  ASSERT_TRUE(opens(slave_path, {19200, false}));
  termios line = slave_settings();
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
}

TEST_F(Pty, BytesMoveBothWaysUntranslated) {
  ASSERT_TRUE(opens(slave_path, {19200, false}));
  for (std::uint8_t byte : {0x0A, 0x0D, 0x11, 0x13, 0x1A, 0xFF}) {
    ASSERT_EQ(write_one(1000, byte).status, platform::Transfer::done);
    std::uint8_t seen = 0;
    ASSERT_EQ(read(master, &seen, 1), 1);
    EXPECT_EQ(seen, byte);
    ASSERT_EQ(write(master, &byte, 1), 1);
    OneByte result = read_one(1000);
    ASSERT_EQ(result.status, platform::Transfer::done);
    EXPECT_EQ(result.byte, byte);
  }
}

TEST_F(Pty, AReadWaitsNoLongerThanItsTimeOut) {
  ASSERT_TRUE(opens(slave_path, {19200, false}));
  Clock::time_point start = Clock::now();
  OneByte result = read_one(200);
  long long waited = elapsed_ms_since(start);
  EXPECT_EQ(result.status, platform::Transfer::timed_out);
  EXPECT_GE(waited, 190);
  EXPECT_LT(waited, 2000);
}

TEST_F(Pty, AVanishedDeviceIsAFailedReadNotATimeOut) {
  ASSERT_TRUE(opens(slave_path, {19200, false}));
  close(master);
  master = -1;
  Clock::time_point start = Clock::now();
  OneByte result = read_one(5000);
  EXPECT_EQ(result.status, platform::Transfer::failed);
  EXPECT_NE(result.error, 0);
  EXPECT_LT(elapsed_ms_since(start), 1000);
}

TEST_F(Pty, APortHeldByAnotherProgramIsNotOpened) {
  int holder = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(platform::open_port(slave_path.c_str(), {19200, false}).failure, platform::OpenFailure::busy);
  close(holder);
  EXPECT_TRUE(opens(slave_path, {19200, false}));
}

TEST_F(Pty, TheOpenPortIsLockedAgainstOtherPrograms) {
  ASSERT_TRUE(opens(slave_path, {19200, false}));
  int other = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other >= 0) {  // root may still open a TIOCEXCL terminal, but not take the lock
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
  } else {
    EXPECT_EQ(errno, EBUSY);
  }
}

// Only a lock someone else holds makes the port busy. A device that takes
// no flock at all (as some do on macOS) is still opened, and kept for this
// process alone by TIOCEXCL.
TEST_F(Pty, OnlyALockHeldElsewhereIsBusyAndAnUnsupportedLockStillOpensTheExclusivePort) {
  struct Case {
    int error;
    platform::OpenFailure failure;
  };
  for (const Case& c : {Case{EOPNOTSUPP, platform::OpenFailure::none}, Case{EINVAL, platform::OpenFailure::none},
                        Case{ENOLCK, platform::OpenFailure::none}, Case{EWOULDBLOCK, platform::OpenFailure::busy},
                        Case{EIO, platform::OpenFailure::other}}) {
    SCOPED_TRACE(c.error);
    interposed::flock_error = c.error;
    platform::OpenResult result = platform::open_port(slave_path.c_str(), {19200, false});
    interposed::flock_error = 0;
    EXPECT_EQ(result.failure, c.failure);
    if (c.failure == platform::OpenFailure::other) {
      EXPECT_EQ(result.error, EIO);
    }
    if (c.failure != platform::OpenFailure::none) continue;
    int other = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other >= 0) {  // root may open it all the same; the mark is there
      int exclusive = 0;
      EXPECT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
      EXPECT_EQ(exclusive, 1);
      close(other);
    } else {
      EXPECT_EQ(errno, EBUSY);
    }
    platform::close_port();
  }
}

TEST_F(Pty, MissingPortAndClosedPortFail) {
  EXPECT_EQ(platform::open_port("/nonexistent/tty", {19200, false}).failure, platform::OpenFailure::no_such_port);
  platform::WriteResult write = write_one(1000, 0x01);
  EXPECT_EQ(write.status, platform::Transfer::failed);
  EXPECT_EQ(write.error, EBADF);
  EXPECT_EQ(read_one(1000).status, platform::Transfer::failed);
}

}  // namespace

namespace {

TEST_F(Pty, BytesReceivedBeforeTheOpenAreNeverReadAsAnswers) {
  holder = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios raw{};
  ASSERT_EQ(tcgetattr(holder, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(holder, TCSANOW, &raw), 0);
  const std::uint8_t stale[2] = {0x06, 0x06};
  ASSERT_EQ(write(master, stale, 2), 2);
  pollfd queued{holder, POLLIN, 0};
  ASSERT_EQ(poll(&queued, 1, 2000), 1);  // the two ACKs wait in the port's input

  ASSERT_TRUE(opens(slave_path, {19200, false}));
  EXPECT_EQ(read_one(200).status, platform::Transfer::timed_out);
  const std::uint8_t answer = 0x41;
  ASSERT_EQ(write(master, &answer, 1), 1);
  OneByte result = read_one(1000);
  ASSERT_EQ(result.status, platform::Transfer::done);
  EXPECT_EQ(result.byte, 0x41);
}

TEST_F(Pty, ClosingPutsTheLineBackAsFound) {
  for (platform::LineSettings settings : {platform::LineSettings{19200, false}, platform::LineSettings{9600, true}}) {
    SCOPED_TRACE(settings.baud);
    termios found = hold_line_as_a_terminal();
    ASSERT_TRUE(opens(slave_path, settings));
    termios changed = held_line();
    ASSERT_NE(cfgetospeed(&changed), cfgetospeed(&found));
    platform::close_port();
    expect_same_line(found, held_line());
    close(holder);
    holder = -1;
  }
}

TEST_F(Pty, AProgramThatEndsWithThePortOpenStillPutsTheLineBack) {
  termios found = hold_line_as_a_terminal();
  Child child = start_child([&](int) -> int {
    int opened = opens(slave_path, {19200, false}) ? 0 : 3;
    std::exit(opened);  // the normal exit path, without close_port
  });
  Ending ending = wait_for_end(child, 5000);
  ASSERT_TRUE(ending.ended);
  ASSERT_TRUE(WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0) << ending.status;
  expect_same_line(found, held_line());
}

TEST_F(Pty, AnOrdinaryFileIsNoPortAndIsLeftUntouched) {
  char path[] = "/tmp/qv-platform-XXXXXX";
  int file = mkstemp(path);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, "kept", 4), 4);
  close(file);
  platform::OpenResult result = platform::open_port(path, {19200, false});
  EXPECT_EQ(result.failure, platform::OpenFailure::not_a_port);
  EXPECT_EQ(write_one(1000, 0x01).status, platform::Transfer::failed);
  struct stat after {};
  ASSERT_EQ(stat(path, &after), 0);
  EXPECT_EQ(after.st_size, 4);
  unlink(path);
}

// Run as root: the device is given to root and a group, then opened by a
// user outside that group.
TEST_F(Pty, AUserRefusedThePortIsToldWhichGroupMayUseIt) {
  const group* dialout = getgrnam("dialout");
  if (geteuid() != 0 || dialout == nullptr) {
    GTEST_SKIP() << "needs root and a dialout group";
  }
  struct Case {
    mode_t mode;
    const char* group;  // the group the user is told to join
  };
  for (const Case& c : {Case{0660, "dialout"}, Case{0600, ""}}) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(chown(slave_path.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(slave_path.c_str(), c.mode), 0);
    Child child = start_child([&](int) {
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
        return 4;
      }
      platform::OpenResult result = platform::open_port(slave_path.c_str(), {19200, false});
      std::fputs(result.group, stderr);
      return result.failure == platform::OpenFailure::no_permission ? 0 : 3;
    });
    Ending ending = wait_for_end(child, 5000);
    ASSERT_TRUE(ending.ended);
    EXPECT_TRUE(WIFEXITED(ending.status) && WEXITSTATUS(ending.status) == 0) << ending.status;
    EXPECT_EQ(ending.err, c.group);
  }
}

}  // namespace
