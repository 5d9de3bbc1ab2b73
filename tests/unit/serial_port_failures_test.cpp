// The port layer's failures against the scripted port: the failure flag
// of a read that timed out or failed, the TimeOut ending of a dead line,
// and ports that cannot be opened or written, each explained in words.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "pclink/echo.h"
#include "pclink/link_stream.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"
#include "support/scripted_port.h"
#include "support/serial_port_fixture.h"

namespace {

TEST_F(SerialPort, ATimedOutReadSetsTheFailureFlagAndReadsAsMinusOne) {
  open_port(1);
  EXPECT_EQ(recv_raw(1000), -1);
  EXPECT_EQ(scripted_port::elapsed_ms(), 10000);
  scripted_port::queue_incoming({0x33});
  EXPECT_EQ(recv_raw(1000), 0x33);
  // A PC-link byte that did not come fails the line for the next transfer.
  std::uint8_t byte = 0;
  link_read(1, &byte);
  EXPECT_EQ(byte, 0xFF);
  EXPECT_TRUE(link_failed);
  EXPECT_FALSE(port_failed);
}

TEST_F(SerialPort, AFailedReadPrintsItsErrorOnStandardErrorNotAmongTheData) {
  open_port(1);
  scripted_port::queue_read_failure(5);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_raw(1000), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "r-error=5\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(port_failed);
}

TEST_F(SerialPort, ADeadLineReadsAs0xFFAndTheNextTransferEndsTheProgram) {
  echo_enabled = false;
  open_port(1);
  std::uint8_t byte = 0;
  link_read(1, &byte);
  EXPECT_EQ(byte, 0xFF);
  // Nothing at all came back in the run: the ending says what to check.
  const char* ending = "^TimeOut\nCOM2: nothing answered: check the port \\(-d\\), the speed \\(-s\\), the cable, "
                       "and that the device's PC link is started\n$";
  EXPECT_EXIT(link_read(1, &byte), ::testing::ExitedWithCode(1), ending);
  EXPECT_EXIT(link_write(1, &byte), ::testing::ExitedWithCode(1), ending);
}

// The reason is the last word: no failed write and "TimeOut" after it.
TEST_F(SerialPort, AMissingPortIsNamedAndTheProgramEndsAtOnce) {
  scripted_port::refuse_open(true);
  EXPECT_EXIT(open_port(1), ::testing::ExitedWithCode(1), "^port open error\nCOM2: no such port\n$");
}

TEST_F(SerialPort, AWriteOnAPortThatIsNotOpenFailsAndTheNextTransferEnds) {
  auto run = [] {
    std::uint8_t packet[2] = {0x01, 0x01};
    link_write(2, packet);
    link_write(2, packet);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(1), "^w_error=9\nTimeOut\n$");
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  send_one(0x01);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "w_error=9\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

// text as a regular expression that matches it alone.
std::string literally(const std::string& text) {
  std::string pattern;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

TEST_F(SerialPort, APortThatCannotBeOpenedIsExplainedInPlainWords) {
  using platform::OpenFailure;
  struct Case {
    OpenFailure why;
    const char* group;
    const char* reason;
  };
  for (const Case& c : {
           Case{OpenFailure::busy, "", "COM2: the port is held by another program\n"},
           Case{OpenFailure::no_permission, "dialout",
                "COM2: no permission to use the port; join the group dialout "
                "(sudo usermod -aG dialout $USER), then log in again\n"},
           Case{OpenFailure::no_permission, "", "COM2: no permission to use the port\n"},
           Case{OpenFailure::not_a_port, "", "COM2: not a serial port\n"},
           Case{OpenFailure::other, "", "COM2: the port cannot be opened (error 5)\n"},
       }) {
    SCOPED_TRACE(c.reason);
    scripted_port::refuse_open(true, c.why, c.group);
    EXPECT_EXIT(open_port(1), ::testing::ExitedWithCode(1), "^port open error\n" + literally(c.reason) + "$");
  }
}

}  // namespace
