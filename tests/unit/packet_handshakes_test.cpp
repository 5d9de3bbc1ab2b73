// Packets and control bytes on the line, and the handshakes of a single
// Packet: a command's and a write Packet's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pclink/checksum16.h"
#include "pclink/console.h"
#include "pclink/conversation.h"
#include "pclink/echo.h"
#include "pclink/line_doubts.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"
#include "unit/packet_test_support.h"

namespace {

using namespace packet_test;
using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

TEST_F(Packets, ChecksumIsTheByteSumModulo65536) {
  EXPECT_EQ(checksum16(0, nullptr), 0);
  Bytes cle = bytes_of("CLE");
  EXPECT_EQ(checksum16(3, cle.data()), 0x00D4);
  Bytes many(300, 0xFF);  // 76500 = 65536 + 10964
  EXPECT_EQ(checksum16(300, many.data()), 10964);
}

TEST_F(Packets, TheResetCommandPacketIsExactlyTheseBytes) {
  Bytes cle = bytes_of("CLE");
  send_packet(3, 1, cle.data());
  EXPECT_EQ(scripted_port::written(), (Bytes{0x01, 0x01, 0xFE, 0x03, 0x00, 0x43, 0x4C, 0x45, 0xD4, 0x00}));
}

TEST_F(Packets, AZeroLengthPacketIsSevenBytes) {
  send_packet(0, 7, nullptr);
  EXPECT_EQ(scripted_port::written(), (Bytes{0x01, 0x07, 0xF8, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(Packets, Number256GoesOutAsZeroAndIsAcceptedAsSuch) {
  send_packet(0, 256, nullptr);
  EXPECT_EQ(scripted_port::written(), (Bytes{0x01, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00}));
  scripted_port::queue_incoming(packet_bytes(0, "AFV"));
  std::uint8_t buffer[16];
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 256), 3);
}

TEST_F(Packets, ChecksumBeyond65535IsSentModulo) {
  Bytes payload(300, 0xFF);
  send_packet(300, 2, payload.data());
  const Bytes& line = scripted_port::written();
  ASSERT_EQ(line.size(), 5u + 300 + 2);
  EXPECT_EQ(line[3], 0x2C);  // 300 little-endian
  EXPECT_EQ(line[4], 0x01);
  EXPECT_EQ(line[305], 10964 & 0xFF);
  EXPECT_EQ(line[306], 10964 >> 8);
}

TEST_F(Packets, ReceivesAGoodPacketIntoTheBuffer) {
  scripted_port::queue_incoming(packet_bytes(3, "AFVhello"));
  std::uint8_t buffer[32];
  ASSERT_EQ(recv_packet(buffer, sizeof buffer, 3), 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 8), "AFVhello");
}

TEST_F(Packets, EotInsteadOfAPacketReadsNothingMore) {
  scripted_port::queue_incoming({EOT, SOH});
  std::uint8_t buffer[8];
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 1), recv_eot);
  EXPECT_EQ(scripted_port::incoming_left(), 1u);
}

TEST_F(Packets, RefusesAnythingButSohWithFormatError) {
  scripted_port::queue_incoming({CAN});
  std::uint8_t buffer[8];
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 1), recv_bad_packet);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "packet format error\n");
}

TEST_F(Packets, AWrongComplementIsDrainedAndAWholePacketUnderAnotherNumberIsOutOfStep) {
  std::uint8_t buffer[8];
  Bytes wrong_complement = packet_bytes(1, "DOK");
  wrong_complement[2] = 0xFD;
  scripted_port::queue_incoming(wrong_complement);
  scripted_port::queue_timeout();  // the device waits for the answer
  scripted_port::queue_incoming({ACK});
  ::testing::internal::CaptureStderr();
  RefusedPacket refused;
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 1, &refused), recv_bad_packet);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "packet number error\n");
  // The whole unit went off the line, and no further: the device's next byte is still there.
  EXPECT_EQ(refused.line_length, static_cast<int>(wrong_complement.size()));
  EXPECT_FALSE(link_failed);
  EXPECT_EQ(recv_byte(), ACK);

  struct Case {
    int sent;
    int expected;
    int result;
    std::string message;
  };
  for (const Case& c : {Case{2, 1, recv_out_of_step, "packet number error\n"}, Case{5, 4, recv_out_of_step, "packet number error\n"},
                        Case{3, 4, recv_repeated, ""}, Case{255, 256, recv_repeated, ""}, Case{0, 1, recv_out_of_step, "packet number error\n"}}) {
    SCOPED_TRACE(c.sent);
    scripted_port::queue_incoming(packet_bytes(c.sent, "AFV"));
    scripted_port::queue_incoming({ENQ});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(recv_packet(buffer, sizeof buffer, c.expected), c.result);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message);
    EXPECT_EQ(scripted_port::incoming_left(), 1u);  // read whole, and no further
    EXPECT_EQ(recv_byte(), ENQ);
  }
}

TEST_F(Packets, RefusesABadChecksum) {
  Bytes packet = packet_bytes(1, "DOK");
  packet.back() ^= 0x01;
  scripted_port::queue_incoming(packet);
  std::uint8_t buffer[8];
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 1), recv_bad_packet);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "p-check sum error\n");
}

TEST_F(Packets, APacketLongerThanTheBufferIsReadWholeButNeverOverrunsIt) {
  Bytes payload(100, 0x5A);
  scripted_port::queue_incoming(packet_bytes(1, payload));
  scripted_port::queue_incoming({ENQ});
  std::uint8_t buffer[40] = {};
  std::uint8_t guard[8] = {};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_packet(buffer, 32, 1), recv_too_long);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "packet too long\n");
  EXPECT_EQ(buffer[31], 0x5A);
  EXPECT_EQ(buffer[32], 0x00);
  EXPECT_EQ(guard[0], 0x00);
  EXPECT_EQ(recv_byte(), ENQ);  // the stream is still in step
}

TEST_F(Packets, SendCommandRepeatsThePacketOnNakAndReturnsTheLastAnswer) {
  scripted_port::answer_units({{NAK}, {NAK}, {ACK}, {ACK}});
  Bytes cfv = bytes_of("CFV");
  EXPECT_EQ(send_command(3, cfv.data()), ACK);
  const auto& units = scripted_port::written_units();
  ASSERT_EQ(units.size(), 4u);
  Bytes command = packet_bytes(1, "CFV");
  EXPECT_EQ(units[0], command);
  EXPECT_EQ(units[1], command);
  EXPECT_EQ(units[2], command);
  EXPECT_EQ(units[3], Bytes{EOT});
}

TEST_F(Packets, SendCommandRepeatsTheEotOnNak) {
  scripted_port::answer_units({{ACK}, {NAK}, {NAK}, {0x33}});
  Bytes cle = bytes_of("CLE");
  EXPECT_EQ(send_command(3, cle.data()), 0x33);
  EXPECT_EQ(scripted_port::written_units().size(), 4u);
}

// The write handshake under its two rules: the bytes each transmission
// takes on the line, which answer ends it, and the number that follows.
// A write Packet goes again, under a new number each time, only after a
// NAK, or a NAK with one bit flipped. Any other answer is damage with
// nothing to say what it was: it is taken as the likelier ACK (sending
// again a Packet the device took would store it twice). Both leave a doubt,
// which makes the write unproven.
TEST_F(Packets, AWritePacketGoesAgainOnlyAfterNakAndADamagedAnswerLeavesADoubt) {
  struct Case {
    const char* what;
    std::vector<Bytes> answers;
    int next;
    bool doubt;
  };
  for (const Case& c : {Case{"NAK, NAK, ACK", {{NAK}, {NAK}, {ACK}}, 8, false},
                        Case{"NAK, then ACK damaged", {{NAK}, {ACK ^ 0x01}}, 7, true},
                        Case{"a NAK with one bit flipped", {{NAK ^ 0x40}, {ACK}}, 7, true},
                        Case{"a byte far from ACK and from NAK", {{0x33}}, 6, true}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    scripted_port::answer_units(c.answers);
    Bytes data = bytes_of("RFDabc");
    const long doubts = line_doubts();
    EXPECT_EQ(send_write_packet(6, data.data(), 5, {RepeatNumber::next}), c.next);
    EXPECT_EQ(line_doubts() != doubts, c.doubt);
    std::vector<Bytes> sent;
    for (int number = 5; number < c.next; ++number) sent.push_back(packet_bytes(number, "RFDabc"));
    EXPECT_EQ(scripted_port::written_units(), sent);
  }
}

// Without echo the host cannot see a byte that is added to its Packet on
// the way, but it can see when an answer came: the device answers only
// after the last byte, so an ACK read sooner than the line can carry the
// Packet answered something else (the device took the Packet's first bytes
// for a whole, shorter one) and makes the write unproven.
TEST_F(Packets, AnAnswerSoonerThanThePacketCouldArriveLeavesADoubt) {
  Bytes data(256, 'x');
  scripted_port::queue_incoming({ACK});
  long doubts = line_doubts();
  EXPECT_EQ(send_write_packet(256, data.data(), 1, {RepeatNumber::next}), 2);
  EXPECT_NE(line_doubts(), doubts);
  // The same ACK after the 263 bytes' 137 ms at 19200 baud is the answer.
  scripted_port::answer_units({{ACK}});
  doubts = line_doubts();
  EXPECT_EQ(send_write_packet(256, data.data(), 2, {RepeatNumber::next}), 3);
  EXPECT_EQ(line_doubts(), doubts);
  EXPECT_GE(scripted_port::elapsed_ms(), 137);
}

TEST_F(Packets, TheInstallerMarksEveryTransmission) {
  scripted_port::answer_units({{NAK}, {NAK}, {ACK}});
  Bytes data = bytes_of("RFDabc");
  ::testing::internal::CaptureStderr();
  int next = send_write_packet(6, data.data(), 5, {RepeatNumber::next, 3});
  release_progress_marks();  // the last is held back by the pace
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ooo");
  EXPECT_EQ(next, 8);
}

TEST_F(Packets, AWritePacketThatKeepsItsNumberGoesAgainUnderIt) {
  scripted_port::answer_units({{NAK}, {NAK}, {ACK}});
  Bytes end_mark = {'R', 'F', 'D', 0x1A};
  EXPECT_EQ(send_write_packet(4, end_mark.data(), 9, {RepeatNumber::same}), 10);
  const Bytes sent = packet_bytes(9, end_mark);
  EXPECT_EQ(scripted_port::written_units(), (std::vector<Bytes>{sent, sent, sent}));
}

TEST_F(Packets, AWritePacketTheDeviceNeverTakesIsAbandonedAfterTheRepeatLimit) {
  scripted_port::answer_units(std::vector<Bytes>(handshake_repeat_limit + 1, Bytes{NAK}));
  Bytes data = bytes_of("RFD");
  EXPECT_EXIT(send_write_packet(3, data.data(), 1, {RepeatNumber::next}),
              ::testing::ExitedWithCode(exit_not_done), "too many repeats in a row.*\ntransfer abandoned\n$");
}

}  // namespace
