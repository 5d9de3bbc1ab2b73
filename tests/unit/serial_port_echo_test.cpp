// Echo suppression in the port layer against the scripted port: the echo
// of what the host sent taken off the line, damaged or lost echo bytes that
// never swallow the device's answer, and suppression turned off on a line
// found not to echo.
#include <gtest/gtest.h>

#include <cstdint>

#include "pclink/echo.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"
#include "support/serial_port_fixture.h"

namespace {

using scripted_port::Bytes;

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

}  // namespace
