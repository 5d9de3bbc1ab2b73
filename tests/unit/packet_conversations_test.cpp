// The conversations built on Packets: connecting, a service's reply, the
// reset, and the waits for a byte or for ENQ.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/echo.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"
#include "support/sjis.h"
#include "unit/packet_test_support.h"

namespace {

using namespace packet_test;
using scripted_port::Bytes;
using scripted_port::packet_bytes;

TEST_F(Packets, WaitForEndsOnTheByteOrOnCan) {
  scripted_port::queue_incoming({0x41, 0x42});
  scripted_port::queue_timeout();
  scripted_port::queue_incoming({CAN, EOT});
  wait_for(EOT);
  EXPECT_EQ(scripted_port::incoming_left(), 1u);
  wait_for(EOT);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
  EXPECT_FALSE(link_failed);
}

// The full exchange of a command and its reply, as the device answers it.
std::vector<Bytes> device_answers(const std::string& reply) {
  return {{ACK}, {ACK}, packet_bytes(1, reply), {EOT}, {ENQ}};
}

TEST_F(Packets, ConnectDeviceSendsCfvAndAcceptsDokWithMore) {
  scripted_port::answer_units(device_answers("DOK and more"));
  std::uint8_t buffer[work_buffer_size];
  EXPECT_EQ(connect_device(buffer, work_buffer_size), 1);
  Bytes expected = {0x01, 0x01, 0xFE, 0x03, 0x00, 0x43, 0x46, 0x56, 0xDF, 0x00, EOT, ENQ, ACK, ACK};
  EXPECT_EQ(scripted_port::written(), expected);
  EXPECT_EQ(scripted_port::incoming_left(), 1u);  // the ready ENQ is the caller's to take
}

TEST_F(Packets, ConnectDeviceRefusedPrintsTheNotConnectedLine) {
  scripted_port::answer_units(device_answers("ANG"));
  std::uint8_t buffer[work_buffer_size];
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(connect_device(buffer, work_buffer_size), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), sjis("Zaurus が未接続または待機状態にありません") + "\n");
}

// A reply that fails any check is drained, NAKed and read again: the device
// consented and acted, so a damaged "DOK" must never pass for a refusal.
// Only a sound reply that does not begin with "DOK" refuses, and a reply too
// short to hold "DOK" never matches what an earlier reply left in the buffer.
TEST_F(Packets, AReplyThatFailsAnyCheckIsNakedAndReadAgain) {
  const Bytes dok = packet_bytes(1, "DOK");
  auto without = [&](std::size_t at) {
    Bytes bytes = dok;
    bytes.erase(bytes.begin() + static_cast<long>(at));
    return bytes;
  };
  auto flipped = [&](std::size_t at, std::uint8_t flip) {
    Bytes bytes = dok;
    bytes[at] ^= flip;
    return bytes;
  };
  Bytes renumbered = packet_bytes(2, "DOK");
  struct Case {
    const char* what;
    Bytes damaged;
    std::string message;
  };
  for (const Case& c : {Case{"number byte dropped", without(1), "packet number error\n"},
                        Case{"SOH damaged", flipped(0, 0x80), "packet format error\n"},
                        Case{"complement", flipped(2, 0x10), "packet number error\n"},
                        Case{"checksum", flipped(dok.size() - 2, 0x01), "p-check sum error\n"},
                        Case{"a payload byte dropped", without(6), "packet cut short\n"},
                        Case{"last byte dropped", without(dok.size() - 1), "packet cut short\n"},
                        Case{"number and complement changed alike", renumbered, "packet number error\n"}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    std::uint8_t buffer[work_buffer_size] = {};
    scripted_port::answer_units({{ACK}, {ACK}, c.damaged, dok, {EOT}, {ENQ}});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(request_service("CFD", buffer, work_buffer_size), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message);
    const std::vector<Bytes>& units = scripted_port::written_units();
    ASSERT_EQ(units.size(), 6u);
    EXPECT_EQ(units[3], Bytes{NAK});  // one NAK for the damaged reply, then ACK, ACK
    EXPECT_EQ(units[4], Bytes{ACK});
    EXPECT_EQ(scripted_port::incoming_left(), 1u);  // the ready ENQ, for the caller
    EXPECT_FALSE(link_failed);
    // A reply cut short costs the short in-Packet wait, never the 10 s.
    EXPECT_LT(scripted_port::elapsed_ms(), pclink_byte_timeout * 10);
  }

  for (const Bytes& reply : {packet_bytes(1, "DO"), packet_bytes(1, ""), packet_bytes(1, "ANG")}) {
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    std::uint8_t buffer[work_buffer_size] = {'D', 'O', 'K'};
    scripted_port::answer_units({{ACK}, {ACK}, reply, {EOT}, {ENQ}});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(request_service("CFD", buffer, work_buffer_size), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), sjis("Zaurus が未接続または待機状態にありません") + "\n");
    EXPECT_EQ(scripted_port::written_units().size(), 5u);  // no NAK for a sound reply
  }
}

// A reply damaged every time is given up after the repeat limit; a device
// that falls silent after a reply cut short still ends with "TimeOut".
TEST_F(Packets, AReplyThatNeverComesSoundEndsLoudly) {
  Bytes damaged = packet_bytes(1, "DOK");
  damaged.back() ^= 0x01;
  std::vector<Bytes> answers = {{ACK}, {ACK}};
  answers.insert(answers.end(), handshake_repeat_limit + 1, damaged);
  auto always_damaged = [&] {
    scripted_port::answer_units(answers);
    std::uint8_t buffer[work_buffer_size];
    request_service("CFD", buffer, work_buffer_size);
  };
  EXPECT_EXIT(always_damaged(), ::testing::ExitedWithCode(exit_not_done), "too many repeats in a row");
  Bytes cut = packet_bytes(1, "DOK");
  cut.pop_back();
  auto silent_after_cut = [&] {
    scripted_port::answer_units({{ACK}, {ACK}, cut});
    std::uint8_t buffer[work_buffer_size];
    request_service("CFD", buffer, work_buffer_size);
  };
  EXPECT_EXIT(silent_after_cut(), ::testing::ExitedWithCode(exit_line_failed), "packet cut short\n(.|\n)*TimeOut\n$");
}

TEST_F(Packets, ResetSendsClePrintsNothingOnDok) {
  scripted_port::answer_units(device_answers("DOK"));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(reset_device(), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  await_enq();
  Bytes expected = {0x01, 0x01, 0xFE, 0x03, 0x00, 0x43, 0x4C, 0x45, 0xD4, 0x00, EOT, ENQ, ACK, ACK};
  EXPECT_EQ(scripted_port::written(), expected);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

TEST_F(Packets, RefusedResetPrintsItsMessage) {
  scripted_port::answer_units(device_answers("NG"));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(reset_device(), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), sjis("リセットに失敗しました") + "\n");
}

TEST_F(Packets, ResetOverAnEchoingCable) {
  scripted_port::reset();
  scripted_port::set_loopback(true);
  open_port(1);
  scripted_port::answer_units(device_answers("DOK"));
  EXPECT_EQ(reset_device(), 1);
  await_enq();
  EXPECT_EQ(echo_pending(), 0);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

TEST_F(Packets, AwaitEnqEndsOnCan) {
  scripted_port::queue_incoming({0x00});
  scripted_port::queue_timeout();
  scripted_port::queue_incoming({CAN, ENQ});
  await_enq();
  EXPECT_EQ(scripted_port::incoming_left(), 1u);
}

TEST_F(Packets, ASilentDeviceEndsTheResetWithTimeOut) {
  EXPECT_EXIT(reset_device(), ::testing::ExitedWithCode(1), "TimeOut\nCOM2: nothing answered[^\n]*\n$");
}

}  // namespace
