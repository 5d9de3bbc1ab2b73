// The POSIX port moving whole units over a real pseudo-terminal: every line
// setting made explicit whatever the port held, a unit waited for as a whole,
// marked damage told from data, and the driver asked for low latency. Built
// twice: the select() build takes the macOS way to the latency.
#include <gtest/gtest.h>

#include <chrono>
#include <linux/serial.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "pclink/platform/port.h"
#include "pclink/platform/posix/marked_input.h"
#include "platform/interposed_calls.h"
#include "platform/pty_fixture.h"

namespace {

#ifdef QV_LATENCY_BY_DATA_LATENCY
constexpr bool data_latency = true;
#else
constexpr bool data_latency = false;
#endif

// What another program may have left on the port: flow control, parity
// marking and stripping, mark or space parity, translation, line editing.
void leave_port_as_another_program_would(int fd) {
  termios line{};
  ASSERT_EQ(tcgetattr(fd, &line), 0);
  line.c_iflag |= IXON | IXOFF | IXANY | ISTRIP | INLCR | ICRNL | IGNCR | IGNPAR | IGNBRK | BRKINT | IMAXBEL;
  line.c_iflag &= ~PARMRK;
  line.c_oflag |= OPOST | ONLCR;
  line.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  line.c_cflag |= CMSPAR | CRTSCTS | CSTOPB | PARENB;
  line.c_cflag &= ~(CLOCAL | CREAD);
  line.c_cc[VMIN] = 7;
  line.c_cc[VTIME] = 9;
  // glibc calls the change failed when the terminal dropped PARENB, which a
  // pseudo-terminal always does; the rest took, as the port now holds it.
  tcsetattr(fd, TCSANOW, &line);
  ASSERT_EQ(tcgetattr(fd, &line), 0);
  ASSERT_EQ(line.c_cflag & CMSPAR, static_cast<tcflag_t>(CMSPAR));
  ASSERT_EQ(line.c_iflag & (IXON | ISTRIP), static_cast<tcflag_t>(IXON | ISTRIP));
}

TEST_F(Pty, EveryLinkModeSetsEveryLineSettingWhateverThePortHeld) {
  for (platform::LineSettings mode : {platform::LineSettings{9600, false}, platform::LineSettings{19200, false},
                                      platform::LineSettings{9600, true}}) {
    SCOPED_TRACE(mode.baud + mode.odd_parity);
    int other = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    leave_port_as_another_program_would(other);
    close(other);
    ASSERT_EQ(platform::open_port(slave_path.c_str(), mode).failure, platform::OpenFailure::none);
    termios line = slave_settings();
    // Damage marked (PARMRK) and input checked (INPCK: without it a framing
    // error passes as data, and macOS leaves a data 0xFF undoubled); nothing
    // else on input: no flow control, no stripping, no translation.
    EXPECT_EQ(line.c_iflag, static_cast<tcflag_t>(PARMRK | INPCK));
    EXPECT_EQ(line.c_oflag, 0u);
    EXPECT_EQ(line.c_lflag, 0u);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (CSTOPB | CMSPAR | CRTSCTS), 0u);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    // A pseudo-terminal drops PARENB whatever it is asked, but keeps PARODD.
    EXPECT_EQ((line.c_cflag & PARODD) != 0, mode.odd_parity);
    EXPECT_EQ(cfgetospeed(&line), mode.baud == 19200 ? static_cast<speed_t>(B19200) : static_cast<speed_t>(B9600));
    EXPECT_EQ(line.c_cc[VMIN], 1);
    EXPECT_EQ(line.c_cc[VTIME], 0);
    platform::close_port();
  }
}

// A unit trickling in a byte at a time wakes the reader a few times, not
// once per byte or once per 64; a byte 0xFF, doubled on the line by the
// marking, reads as one.
TEST_F(Pty, AUnitTricklingInIsWaitedForAsAWhole) {
  ASSERT_EQ(platform::open_port(slave_path.c_str(), {19200, false}).failure, platform::OpenFailure::none);
  constexpr int unit = 259;
  std::thread device([&] {
    for (int i = 0; i < unit; ++i) {
      const std::uint8_t byte = static_cast<std::uint8_t>(i == 100 ? 0xFF : i);
      ASSERT_EQ(write(master, &byte, 1), 1);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  std::uint8_t bytes[unit];
  std::uint8_t damage[unit];
  interposed::waits = 0;
  platform::ReadResult result = platform::read_bytes(bytes, damage, unit, {unit, 5000, 1000});
  const int waits = interposed::waits;
  device.join();
  ASSERT_EQ(result.status, platform::Transfer::done);
  ASSERT_EQ(result.count, unit);
  EXPECT_EQ(bytes[99], 99);
  EXPECT_EQ(bytes[100], 0xFF);
  EXPECT_EQ(bytes[101], 101);
  EXPECT_EQ(damage[100], 0);
  // 252 bytes in one wake, then the few that are left.
  EXPECT_LE(waits, 4);
}

// The waits of a relay exchange through an echoing adapter: a long frame's
// echo, then short blocks with their echo. Each change of the wake count is
// a system call of its own: a long unit trickling in is waited for in one
// wake and read in one read, short waits of nearly one length share one
// count, a long unit handed over in large pieces (a pseudo-terminal, a USB
// adapter at a long latency) leaves it as it is, and no wait outlasts its
// bytes.
TEST_F(Pty, WaitsOfAnExchangeShareTheLineSettings) {
  ASSERT_EQ(platform::open_port(slave_path.c_str(), {9600, false}).failure, platform::OpenFailure::none);
  std::uint8_t bytes[300];
  std::uint8_t damage[300];
  const std::vector<std::uint8_t> unit(300, 0x5A);
  // Reads a unit of length whose pieces reach the port one per wait.
  const auto read_in_pieces = [&](int length, std::vector<int> pieces) {
    std::size_t next = 0;
    interposed::at_wait = [&](int) {
      if (next < pieces.size()) {
        ASSERT_EQ(write(master, unit.data(), pieces[next]), pieces[next]);
      }
      ++next;
    };
    const auto start = std::chrono::steady_clock::now();
    const platform::ReadResult result = platform::read_bytes(bytes, damage, length, {length, 3000, 0});
    interposed::at_wait = nullptr;
    EXPECT_EQ(result.status, platform::Transfer::done) << length;
    EXPECT_EQ(result.count, length);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000)) << length;
    return static_cast<int>(next);
  };
  // A long unit after the single bytes of the opening, its pieces coming
  // whether the host waits or not: the wake count goes up to 252 for one
  // wake, and down again so that one read takes all there is.
  interposed::line_sets = 0;
  interposed::waits = 0;
  std::thread adapter([&] {
    for (int piece = 0; piece < 4; ++piece) {
      ASSERT_EQ(write(master, unit.data(), piece < 3 ? 70 : 78), piece < 3 ? 70 : 78);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the adapter's latency
    }
  });
  const platform::ReadResult trickled = platform::read_bytes(bytes, damage, 288, {288, 3000, 0});
  adapter.join();
  EXPECT_EQ(trickled.status, platform::Transfer::done);
  EXPECT_EQ(trickled.count, 288);
  EXPECT_EQ(interposed::waits, 1);
  EXPECT_EQ(interposed::line_sets, 2);
  interposed::line_sets = 0;
  for (int length : {26, 24, 28, 24, 26}) read_in_pieces(length, {length});
  // A frame's echo in two large pieces, one wake each, and short waits
  // again: the count set for the first short wait serves them all.
  EXPECT_EQ(read_in_pieces(288, {150, 138}), 2);
  for (int length : {26, 24, 28}) read_in_pieces(length, {length});
  EXPECT_EQ(interposed::line_sets, 1);
  // Shorter than any wake count set so far: still handed on at once.
  read_in_pieces(3, {3});
  platform::close_port();
}

// A unit that stops coming ends the read after its gap, with what came.
TEST_F(Pty, AUnitThatStopsComingEndsTheReadAfterItsGap) {
  ASSERT_EQ(platform::open_port(slave_path.c_str(), {19200, false}).failure, platform::OpenFailure::none);
  const std::uint8_t half[3] = {0x01, 0x02, 0xFD};
  ASSERT_EQ(write(master, half, 3), 3);
  std::uint8_t bytes[8];
  std::uint8_t damage[8];
  const auto start = std::chrono::steady_clock::now();
  platform::ReadResult result = platform::read_bytes(bytes, damage, 8, {8, 5000, 150});
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(result.status, platform::Transfer::timed_out);
  EXPECT_EQ(result.count, 3);
  EXPECT_GE(waited, 140);
  EXPECT_LT(waited, 2000);
}

// What PARMRK makes of received bytes, marks split between reads included.
TEST(MarkedInput, DamagedBytesBreaksAndDoubled0xFFAreToldApart) {
  platform_posix::MarkedInput marks;
  std::uint8_t damage[8] = {};
  std::uint8_t line[] = {0x41, 0xFF, 0xFF, 0xFF, 0x00, 0x42, 0xFF, 0x00, 0x00};
  ASSERT_EQ(platform_posix::decode_marked(line, damage, sizeof line, marks), 4);
  EXPECT_EQ(line[0], 0x41);
  EXPECT_EQ(line[1], 0xFF);
  EXPECT_EQ(line[2], 0x42);  // came with a parity or framing error
  EXPECT_EQ(line[3], 0x00);  // a break
  EXPECT_EQ(damage[0] + damage[1], 0);
  EXPECT_EQ(damage[2] + damage[3], 2);
  std::uint8_t first[] = {0x43, 0xFF};
  std::uint8_t second[] = {0x00};
  std::uint8_t third[] = {0x44, 0x45};
  EXPECT_EQ(platform_posix::decode_marked(first, damage, 2, marks), 1);
  EXPECT_EQ(platform_posix::decode_marked(second, damage, 1, marks), 0);
  ASSERT_EQ(platform_posix::decode_marked(third, damage, 2, marks), 2);
  EXPECT_EQ(third[0], 0x44);
  EXPECT_EQ(damage[0], 1);
  EXPECT_EQ(damage[1], 0);
}

class LowLatency : public Pty {
 protected:
  void TearDown() override {
    Pty::TearDown();
    interposed::serial_driver = {};
  }
};

// The driver is asked for low latency when the port opens and its own
// setting is put back when the port closes.
TEST_F(LowLatency, IsAskedForAtOpenAndPutBackAtClose) {
  interposed::serial_driver.present = true;
  interposed::serial_driver.flags = ASYNC_SKIP_TEST;
  platform::OpenResult opened = platform::open_port(slave_path.c_str(), {19200, false});
  ASSERT_EQ(opened.failure, platform::OpenFailure::none);
  EXPECT_EQ(opened.receive_latency_ms, 1);
  platform::close_port();
  if (data_latency) {
    EXPECT_EQ(interposed::serial_driver.latencies_set, (std::vector<unsigned long>{1000, 0}));
  } else {
    EXPECT_EQ(interposed::serial_driver.flags_set,
              (std::vector<int>{ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY, ASYNC_SKIP_TEST}));
  }
}

// A driver that takes the request and drops the flag (as the USB serial
// core does for adapters without a latency timer): the waits allow for the
// latency as it comes, and the settings found are put back all the same.
TEST_F(LowLatency, AFlagTheDriverDropsIsNotTakenForLowLatency) {
  if (data_latency) GTEST_SKIP() << "the receive latency is a number there, not a flag";
  interposed::serial_driver.present = true;
  interposed::serial_driver.flags = ASYNC_SKIP_TEST;
  interposed::serial_driver.dropped_flags = ASYNC_LOW_LATENCY;
  platform::OpenResult opened = platform::open_port(slave_path.c_str(), {19200, false});
  ASSERT_EQ(opened.failure, platform::OpenFailure::none);
  EXPECT_EQ(opened.receive_latency_ms, 16);
  platform::close_port();
  EXPECT_EQ(interposed::serial_driver.flags_set,
            (std::vector<int>{ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY, ASYNC_SKIP_TEST}));
}

// A driver without the setting (a pseudo-terminal, many adapters) is no
// error: the port opens, nothing is changed or put back, and the waits
// allow for an adapter's latency timer as it comes.
TEST_F(LowLatency, ARefusalIsSilentAndThePortWorksAsItIs) {
  ::testing::internal::CaptureStderr();
  platform::OpenResult opened = platform::open_port(slave_path.c_str(), {19200, false});
  ASSERT_EQ(opened.failure, platform::OpenFailure::none);
  EXPECT_EQ(opened.receive_latency_ms, 16);
  platform::close_port();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(interposed::serial_driver.flags_set.empty());
  EXPECT_TRUE(interposed::serial_driver.latencies_set.empty());
}

}  // namespace
