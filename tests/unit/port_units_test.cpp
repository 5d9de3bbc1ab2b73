// The port layer moving whole units against the scripted port: one write per
// unit, one wait for the bytes a unit still needs, the echo taken as a count,
// and waits of recovery that scale with the line.
#include <gtest/gtest.h>

#include <string>

#include "pclink/answers.h"
#include "pclink/conversation.h"
#include "pclink/echo.h"
#include "pclink/line_timing.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/relay.h"
#include "pclink/relay_framing.h"
#include "pclink/serial_port.h"
#include "qvemu/relay_block.h"
#include "support/device_answers.h"
#include "support/scripted_port.h"

namespace {

using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

class PortUnits : public ::testing::Test {
 protected:
  void SetUp() override { scripted_port::reset(); }
};

Bytes payload_of(std::size_t size) {
  Bytes payload = bytes_of("RFD");
  for (std::size_t i = 0; payload.size() < size; ++i) payload.push_back(static_cast<std::uint8_t>(i * 7));
  return payload;
}

// On a USB adapter every write can become a transfer of its own.
TEST_F(PortUnits, APacketAControlByteAndARelayBlockEachGoOutInOneWrite) {
  echo_enabled = false;
  open_port(link_mode_cable_19200);
  const Bytes payload = payload_of(256);
  send_packet(static_cast<int>(payload.size()), 2, payload.data());
  send_control(ACK);
  ASSERT_EQ(scripted_port::writes().size(), 2u);
  EXPECT_EQ(scripted_port::writes()[0], packet_bytes(2, payload));
  EXPECT_EQ(scripted_port::writes()[1], Bytes{ACK});

  scripted_port::reset();
  echo_enabled = false;
  open_port(link_mode_relay);
  send_relay_control(relay_enq);
  send_frame_body(3, relay_any_frame_number, bytes_of("CFV").data());
  ASSERT_EQ(scripted_port::writes().size(), 2u);
  EXPECT_EQ(scripted_port::writes()[0], qvemu::encode_relay_control(relay_enq));
  EXPECT_EQ(scripted_port::writes()[1], qvemu::encode_relay_frame(bytes_of("CFV")));
}

// The ACK block for a frame taken waits for our next unit and shares its
// write (one USB transfer, not two), but never holds up the line: it goes
// out before a read waits for the device, before the relay's pause, and at
// close.
TEST_F(PortUnits, TheAckBlockOfAFrameTakenGoesOutWithOurNextUnitOrBeforeWeWait) {
  const Bytes ack = qvemu::encode_relay_control(relay_ack);
  const Bytes enq = qvemu::encode_relay_control(relay_enq);
  open_port(link_mode_relay);
  send_relay_control_with_next(relay_ack);
  EXPECT_TRUE(scripted_port::writes().empty());
  send_relay_control(relay_enq);
  ASSERT_EQ(scripted_port::writes().size(), 1u);
  Bytes both = ack;
  both.insert(both.end(), enq.begin(), enq.end());
  EXPECT_EQ(scripted_port::writes()[0], both);

  scripted_port::reset();
  echo_enabled = false;
  open_port(link_mode_relay);
  send_relay_control_with_next(relay_ack);
  scripted_port::queue_incoming(qvemu::encode_relay_control(relay_syn));
  EXPECT_EQ(recv_relay_control(), relay_syn);
  EXPECT_EQ(scripted_port::writes(), std::vector<Bytes>{ack});

  scripted_port::reset();
  echo_enabled = false;
  open_port(link_mode_relay);
  send_relay_control_with_next(relay_ack);
  delay_ticks(0);
  EXPECT_EQ(scripted_port::writes(), std::vector<Bytes>{ack});

  scripted_port::reset();
  echo_enabled = false;
  open_port(link_mode_relay);
  send_relay_control_with_next(relay_ack);
  close_port();
  EXPECT_EQ(scripted_port::writes(), std::vector<Bytes>{ack});
}

// A Packet that trickles in (here in 16 stretches, a few milliseconds
// apart, as a slow line delivers it) is waited for as a whole, not a byte
// at a time; its echo likewise.
TEST_F(PortUnits, ATricklingPacketAndAnEchoCostAHandfulOfReads) {
  echo_enabled = false;
  open_port(link_mode_cable_19200);
  const Bytes packet = packet_bytes(2, payload_of(256));
  for (std::size_t at = 0; at < packet.size(); at += 17) {
    scripted_port::queue_incoming(Bytes(packet.begin() + static_cast<long>(at),
                                        packet.begin() + static_cast<long>(std::min(packet.size(), at + 17))));
    scripted_port::queue_gap(8);
  }
  std::uint8_t buffer[300];
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 2), 256);
  EXPECT_LE(scripted_port::read_count(), 3);

  scripted_port::reset();
  open_port(link_mode_cable_19200);
  scripted_port::set_loopback(true);
  scripted_port::answer_units({{ACK}});
  send_packet(256, 2, buffer);
  EXPECT_EQ(recv_answer(), ACK);
  EXPECT_EQ(echo_pending(), 0);
  EXPECT_LE(scripted_port::read_count(), 2);
}

// -C forgotten on a cable without echo: the device's ACK comes in the place
// of the command's echo. After the echo's wait it is handed on at once, not
// held until a 10 s read of its own times out.
TEST_F(PortUnits, AForgottenMinusCCostsTheEchoWaitAloneAndTheAnswerIsHandedOn) {
  open_port(link_mode_cable_19200);
  scripted_port::answer_units({{ACK}, {ACK}});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(send_command(3, bytes_of("CFV").data()), ACK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "no echo on the line: echo suppression off (-C)\n");
  // The echo's wait, and the EOT's own time on the line before its ACK.
  EXPECT_LE(scripted_port::elapsed_ms(), 3000 + line_time_ms(1));
  EXPECT_FALSE(echo_enabled);
  EXPECT_FALSE(link_failed);
}

// A byte lost on the way to the device: its echo comes back a byte short,
// and the device answers the shorter Packet at once with NAK, which then
// takes the last echo byte's place. It is handed on after a turnaround of
// silence, not after the 10 s of a byte read, and the Packet goes again.
// A damaged last echo byte with the answer right behind it is not mistaken
// for the answer.
TEST_F(PortUnits, AnAnswerInTheLastEchoBytesPlaceIsHandedOnAfterATurnaround) {
  open_port(link_mode_cable_19200);
  const Bytes payload = payload_of(256);
  send_packet(static_cast<int>(payload.size()), 2, payload.data());
  Bytes short_echo = packet_bytes(2, payload);
  short_echo.back() = NAK;
  scripted_port::queue_incoming(short_echo);
  EXPECT_EQ(recv_answer(), NAK);
  EXPECT_LE(scripted_port::elapsed_ms(), 1000);
  EXPECT_FALSE(link_failed);

  scripted_port::reset();
  open_port(link_mode_cable_19200);
  send_packet(static_cast<int>(payload.size()), 3, payload.data());
  Bytes damaged_echo = packet_bytes(3, payload);
  damaged_echo.back() ^= 0x10;
  damaged_echo.push_back(ACK);
  scripted_port::queue_incoming(damaged_echo);
  EXPECT_EQ(recv_answer(), ACK);
  EXPECT_EQ(echo_pending(), 0);
}

// A device that never answers, on a line that does not echo either: no -C
// advice (nothing came back at all), the echo's wait counts towards the
// byte's 10 s, and the ending says what to check.
TEST_F(PortUnits, ASilentDeviceIsNotTakenForAMissingEchoAndEndsAtTenSeconds) {
  open_port(link_mode_cable_19200);
  ::testing::internal::CaptureStderr();
  send_control(ENQ);
  std::uint8_t byte = 0;
  link_read(1, &byte);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(scripted_port::elapsed_ms(), pclink_byte_timeout * 10);
  EXPECT_TRUE(echo_enabled);
  EXPECT_TRUE(link_failed);
  EXPECT_TRUE(line_never_answered());
  EXPECT_EXIT(link_read(1, &byte), ::testing::ExitedWithCode(1), "^TimeOut\nCOM2: nothing answered: check");

  // Once anything has come back, a later silence is the device's alone.
  scripted_port::reset();
  echo_enabled = false;
  open_port(link_mode_cable_19200);
  scripted_port::answer_units({{ACK}});
  send_control(ENQ);
  link_read(1, &byte);
  link_read(1, &byte);
  EXPECT_FALSE(line_never_answered());
  EXPECT_EXIT(link_read(1, &byte), ::testing::ExitedWithCode(1), "^TimeOut\n$");
}

// The device falls silent the moment its damaged unit ends: the drain waits
// a few byte times and what the adapter may hold back, not half a second.
// On a line that keeps dripping bytes it still ends, after its byte bound's
// time on the line.
TEST_F(PortUnits, ADrainEndsAtLineSpeedAndIsBoundedOnADrippingLine) {
  echo_enabled = false;
  open_port(link_mode_cable_19200);
  scripted_port::queue_incoming({0x41, 0x42, 0x43});
  scripted_port::queue_gap(drain_silence_ms() + 1);
  scripted_port::queue_incoming({ACK});
  DrainedBytes drained = drain_line();
  EXPECT_EQ(drained.count, 3);
  EXPECT_EQ(drained.last, 0x43);
  EXPECT_LT(drain_silence_ms(), 100);
  EXPECT_EQ(scripted_port::elapsed_ms(), drain_silence_ms());
  EXPECT_EQ(recv_byte(), ACK);

  scripted_port::reset();
  echo_enabled = false;
  open_port(link_mode_cable_19200);
  for (int i = 0; i < 2000; ++i) {
    scripted_port::queue_gap(drain_silence_ms() - 1);
    scripted_port::queue_incoming({0x55});
  }
  drained = drain_line();
  EXPECT_GT(drained.count, 0);
  EXPECT_LT(drained.count, 2000);
  EXPECT_LE(scripted_port::elapsed_ms(), drain_timeout_ms(8192) + drain_silence_ms());
}

// A device that drips a Packet's bytes, each just inside the gap, keeps the
// unit no longer than its time-out (twice its time on the line and a gap),
// and the Packet is refused as cut short.
TEST_F(PortUnits, ASlowDripKeepsAPacketNoLongerThanItsTimeOut) {
  echo_enabled = false;
  open_port(link_mode_cable_19200);
  const Bytes packet = packet_bytes(2, payload_of(200));
  scripted_port::queue_incoming({packet[0]});
  for (std::size_t i = 1; i < packet.size(); ++i) {
    scripted_port::queue_gap(unit_gap_ms() - 1);
    scripted_port::queue_incoming({packet[i]});
  }
  std::uint8_t buffer[300];
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 2), recv_bad_packet);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "packet cut short\n");
  // Its header alone took longer than a header's time-out; what dripped on
  // after it was drained, within the drain's own bound.
  EXPECT_LE(scripted_port::elapsed_ms(), unit_timeout_ms(4) + drain_timeout_ms(8192) + 2 * unit_gap_ms());
  EXPECT_FALSE(link_failed);
}

// Through the relay the parity is checked: a byte that arrived with a parity
// error makes its frame damaged although the frame's sum holds, so it is
// refused (NAK block) and taken again, never passed on as data.
TEST_F(PortUnits, AByteWithAParityErrorRefusesItsRelayFrame) {
  echo_enabled = false;
  open_port(link_mode_relay);
  const Bytes frame = qvemu::encode_relay_frame({ACK});
  scripted_port::queue_incoming(qvemu::encode_relay_control(relay_enq));
  scripted_port::queue_incoming(Bytes(frame.begin(), frame.begin() + 15));
  scripted_port::queue_damaged(frame[15]);
  scripted_port::queue_incoming(Bytes(frame.begin() + 16, frame.end()));
  scripted_port::queue_timeout();
  scripted_port::queue_incoming(qvemu::encode_relay_control(relay_enq));
  scripted_port::queue_incoming(frame);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_byte(), ACK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "opt check sum error\n");
  const Bytes syn = qvemu::encode_relay_control(relay_syn);
  Bytes expected = syn;
  for (const Bytes& block : {qvemu::encode_relay_control(relay_nak), syn, qvemu::encode_relay_control(relay_ack)}) {
    expected.insert(expected.end(), block.begin(), block.end());
  }
  close_port();
  EXPECT_EQ(scripted_port::written(), expected);
}

// What the waits come to on the lines the programs drive.
TEST_F(PortUnits, TheWaitsScaleWithTheLineAndTheAdaptersLatency) {
  set_line_timing(19200, false, 1);
  const int fast = drain_silence_ms();
  EXPECT_NEAR(line_time_ms(1920), 1000, 2);
  set_line_timing(19200, false, 16);
  EXPECT_EQ(drain_silence_ms(), fast + 15);
  set_line_timing(9600, true, 16);
  EXPECT_NEAR(line_time_ms(873), 1000, 2);  // 11 bits a byte
  EXPECT_GT(unit_timeout_ms(263), 2 * line_time_ms(263));
  EXPECT_LT(drain_silence_ms(), 100);
  EXPECT_GE(echo_timeout_ms(8), 3000);
}

}  // namespace
