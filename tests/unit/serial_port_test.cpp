// The port layer against the scripted port: line settings per link mode,
// echo suppression, the failure flag and the TimeOut ending.
#include <gtest/gtest.h>

#include <string>

#include "pclink/echo.h"
#include "pclink/link_options.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"
#include "support/scripted_port.h"

namespace {

using scripted_port::Bytes;

// One byte as a unit of its own, as a control byte goes out.
void send_one(std::uint8_t byte) {
  send_unit(&byte, 1, pclink_byte_timeout);
}

class SerialPort : public ::testing::Test {
 protected:
  void SetUp() override { scripted_port::reset(); }
};

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

TEST_F(SerialPort, EchoedBytesAreDiscardedBeforeTheDeviceByte) {
  open_port(1);
  scripted_port::set_loopback(true);
  const Bytes sent = {0x41, 0x42, 0x43};
  link_write(3, sent.data());
  scripted_port::queue_incoming({0x06});
  EXPECT_EQ(echo_pending(), 3);
  EXPECT_EQ(recv_raw(1000), 0x06);
  EXPECT_EQ(echo_pending(), 0);
}

// The device answers only once the host's unit is whole: whatever comes
// while echo is pending is counted as echo, a damaged echo byte included,
// so the device's bytes are never taken for late echo.
TEST_F(SerialPort, WhatComesWhileEchoIsPendingIsCountedAsEcho) {
  open_port(1);
  send_one(0x05);
  scripted_port::queue_incoming({0x07, 0x06, 0x05});
  EXPECT_EQ(recv_raw(1000), 0x06);  // 0x07 was the damaged echo of 0x05
  EXPECT_EQ(echo_pending(), 0);
  EXPECT_EQ(recv_raw(1000), 0x05);  // the device's byte, though it looks like the echo

  // A damaged byte inside a Packet's echo does not shift what follows.
  const Bytes sent = {0x01, 0x01, 0xFE, 0x00, 0x00, 0x00, 0x00};
  link_write(7, sent.data());
  scripted_port::queue_incoming({0x01, 0x01, 0xFE, 0x80, 0x00, 0x00, 0x00, ACK});
  EXPECT_EQ(recv_raw(1000), ACK);
  EXPECT_FALSE(link_failed);
}

// A lost echo byte: in the middle of a unit the next echo byte takes its
// place; at the end the device's answer does, and the silence after it
// shows that it was the answer. Either way the answer reaches the caller.
TEST_F(SerialPort, ALostEchoByteNeitherSwallowsTheAnswerNorEndsTheProgram) {
  open_port(1);
  const Bytes sent = {0x01, 0x02, 0xFD, 0x03, 0x00};
  link_write(5, sent.data());
  scripted_port::queue_incoming({0x01, 0xFD, 0x03, 0x00, NAK});
  EXPECT_EQ(recv_raw(1000), NAK);
  EXPECT_EQ(echo_pending(), 0);

  link_write(5, sent.data());
  scripted_port::queue_incoming({0x01, 0x02, 0xFD, 0x03, ACK});
  EXPECT_EQ(recv_raw(1000), ACK);
  EXPECT_FALSE(link_failed);
  EXPECT_TRUE(echo_enabled);
}

// Echo suppression left on over a link that does not echo: the first
// unit's echo never comes, so suppression goes off with a note and the
// device's answer, taken at first for echo, is handed on.
TEST_F(SerialPort, ALinkThatNeverEchoesTurnsSuppressionOff) {
  open_port(1);
  const Bytes command = {0x01, 0x01, 0xFE, 0x03, 0x00, 0x43, 0x46, 0x56, 0xDF, 0x00};
  link_write(10, command.data());
  scripted_port::queue_incoming({ACK});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_raw(1000), ACK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "no echo on the line: echo suppression off (-C)\n");
  EXPECT_FALSE(echo_enabled);
  EXPECT_FALSE(link_failed);
  send_one(EOT);
  scripted_port::queue_incoming({ACK});
  EXPECT_EQ(recv_raw(1000), ACK);
}

// A relay adapter without echo: each device block is as long as ours and
// matches it but for its last byte, so no echo ever times out. The second
// such unit turns suppression off and hands on that byte at once; from then
// on the device's blocks arrive whole.
TEST_F(SerialPort, AnswersThatMimicTheEchoButForTheirLastByteTurnSuppressionOff) {
  open_port(1);
  const Bytes enq_block = {0x00, 0x00, 0x00, 0x00, 0x00, 0x96, 0x82, 0x05};
  const Bytes syn_block = {0x00, 0x00, 0x00, 0x00, 0x00, 0x96, 0x82, 0x16};
  ::testing::internal::CaptureStderr();
  link_write(8, enq_block.data());
  scripted_port::queue_incoming(syn_block);
  EXPECT_EQ(recv_raw(50), 0x16);  // after the silence: it may still be a damaged echo
  EXPECT_TRUE(echo_enabled);
  link_write(8, enq_block.data());
  scripted_port::queue_incoming(syn_block);
  const long long before = scripted_port::elapsed_ms();
  EXPECT_EQ(recv_raw(50), 0x16);
  EXPECT_EQ(scripted_port::elapsed_ms(), before);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "no echo on the line: echo suppression off (-C)\n");
  EXPECT_FALSE(echo_enabled);
  link_write(8, enq_block.data());
  scripted_port::queue_incoming(syn_block);
  EXPECT_EQ(recv_raw(50), 0x00);
}

// Damage that does not look like the device's answer in the echo's place
// never turns suppression off: an echo damaged anywhere but at its last
// byte, or garbage in mid-unit; nor, once a unit's echo came back whole,
// damage at the last byte however often.
TEST_F(SerialPort, DamagedEchoesKeepSuppressionOn) {
  open_port(1);
  const Bytes sent = {0x00, 0x96, 0x82, 0x05};
  for (int i = 0; i < 3; ++i) {
    link_write(4, sent.data());
    scripted_port::queue_incoming({0x00, 0x97, 0x82, 0x04, ACK});
    EXPECT_EQ(recv_raw(50), ACK);
  }
  link_write(4, sent.data());
  scripted_port::queue_incoming({0x00, 0x96, 0x82, 0x05, ACK});
  EXPECT_EQ(recv_raw(50), ACK);
  for (int i = 0; i < 3; ++i) {
    link_write(4, sent.data());
    scripted_port::queue_incoming({0x00, 0x96, 0x82, 0x04, ACK});
    EXPECT_EQ(recv_raw(50), ACK);
  }
  EXPECT_TRUE(echo_enabled);
}

TEST_F(SerialPort, WithoutEchoSuppressionEveryByteIsDelivered) {
  echo_enabled = false;
  open_port(1);
  send_one(0x05);
  EXPECT_EQ(echo_pending(), 0);
  scripted_port::queue_incoming({0x05, 0x06});
  EXPECT_EQ(recv_raw(1000), 0x05);
  EXPECT_EQ(recv_raw(1000), 0x06);
}

TEST_F(SerialPort, EchoRecordNeverOverrunsOnALinkThatDoesNotEcho) {
  open_port(1);
  for (int i = 0; i < echo_record_size * 3 + 17; ++i) {
    send_one(static_cast<std::uint8_t>(i));
  }
  EXPECT_EQ(echo_pending(), echo_record_size);
  // The oldest bytes were dropped: the record now expects the byte sent
  // echo_record_size bytes before the end.
  int first_kept = echo_record_size * 3 + 17 - echo_record_size;
  scripted_port::queue_incoming({static_cast<std::uint8_t>(first_kept), 0x77});
  // first_kept matched as echo; the rest of the echo never comes, so the
  // record is given up and 0x77, which took an echo byte's place, is data.
  EXPECT_EQ(recv_raw(1000), 0x77);
  EXPECT_EQ(echo_pending(), 0);
}

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

TEST_F(SerialPort, DelayTicksPausesSixMillisecondsEach) {
  delay_ticks(3);
  ASSERT_EQ(scripted_port::pauses_ms().size(), 1u);
  EXPECT_EQ(scripted_port::pauses_ms()[0], 18);
}

}  // namespace
