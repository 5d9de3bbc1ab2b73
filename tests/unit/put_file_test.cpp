// put_file against a scripted device: the exact Packets, the numbering, the
// repeats and every way a write train can end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pclink/conversation.h"
#include "pclink/data_train.h"
#include "pclink/echo.h"
#include "pclink/file_commands.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"
#include "support/sjis.h"
#include "unit/file_commands_test_support.h"

namespace {

using namespace file_commands_test;
using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

// A write after consent: ACK to the request and to each of data_packets
// Packets, ACK to the EOT, then "AEX" (or reply), EOT and the closing ENQ.
std::vector<Bytes> write_conversation(std::size_t data_packets, const std::string& reply = "AEX") {
  std::vector<Bytes> answers = consent();
  for (std::size_t i = 0; i < data_packets + 2; ++i) answers.push_back({ACK});
  answers.push_back(packet_bytes(1, reply));
  answers.push_back({EOT});
  answers.push_back({ENQ});
  return answers;
}

TEST_F(FileCommands, WriteTrainsEndWithAPacketOfFewerThan253Bytes) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> payload_lengths;
  };
  for (const Case& c : {Case{0, {3}}, Case{1, {4}}, Case{253, {256, 3}}, Case{254, {256, 4}},
                        Case{506, {256, 256, 3}}}) {
    SCOPED_TRACE(c.size);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    Bytes file = file_of(c.size);
    scripted_port::answer_units(write_conversation(c.payload_lengths.size()));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(put_file(static_cast<int>(c.size), file.data(), "Memo.Txt"), transfer_done);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(c.payload_lengths.size(), 'o') + " end\n");
    std::vector<Bytes> packets = packets_after_opening();
    ASSERT_EQ(packets.size(), c.payload_lengths.size() + 1);  // the request, then the data
    std::string request("RFDS1:Memo.Txt");
    request.push_back('\0');
    EXPECT_EQ(packets[0], packet_bytes(1, request));
    Bytes sent;
    for (std::size_t i = 0; i < c.payload_lengths.size(); ++i) {
      Bytes payload = payload_of(packets[i + 1]);
      EXPECT_EQ(payload.size(), c.payload_lengths[i]);
      EXPECT_EQ(packets[i + 1][1], i + 2);
      EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 3), bytes_of("RFD"));
      sent.insert(sent.end(), payload.begin() + 3, payload.end());
    }
    EXPECT_EQ(sent, file);
    EXPECT_EQ(scripted_port::incoming_left(), 1u);
  }
}

TEST_F(FileCommands, ANakToTheRequestMakesTheDataStartAtPacket3) {
  std::vector<Bytes> answers = consent();
  answers.insert(answers.end(), {{NAK}, {ACK}, {NAK}, {ACK}, {NAK}, {ACK}, packet_bytes(1, "AEX"), {EOT}, {ENQ}});
  scripted_port::answer_units(answers);
  Bytes file = file_of(10);
  ::testing::internal::CaptureStderr();
  // Confirmed, but the NAK to the EOT leaves the write to be read back: a
  // device rarely refuses the EOT of a train it took whole, and an answer
  // out of step shows that way.
  EXPECT_EQ(put_file(10, file.data(), "N"), transfer_unproven);
  // A repeated data Packet is not marked again.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "o end\n");
  std::vector<Bytes> packets = packets_after_opening();
  ASSERT_GE(packets.size(), 4u);
  EXPECT_EQ(payload_of(packets[0]), payload_of(packets[1]));
  EXPECT_EQ(packets[0][1], 1);
  EXPECT_EQ(packets[1][1], 2);
  EXPECT_EQ(packets[2][1], 3);
  EXPECT_EQ(packets[3][1], 4);
  EXPECT_EQ(payload_of(packets[2]), payload_of(packets[3]));
  // The EOT went out again after its NAK.
  EXPECT_EQ(count_units(EOT), 1u + 2);
}

// The device's ACK to the first data Packet comes twice (a byte doubled on
// the way), then it NAKs the second once. The device answers a Packet with
// one byte, so the spare ACK right behind the first is drained, not read as
// the answer to the second Packet: every chunk goes, the NAKed one again,
// in step with the device's answers. The doubled byte is still a doubt, so
// the confirmed write is read back.
TEST_F(FileCommands, ADoubledAnswerByteIsNotTakenForTheNextPacketsAnswer) {
  for (const bool paced : {true, false}) {
    SCOPED_TRACE(paced ? "serial port" : "pseudo-terminal");
    scripted_port::reset();
    scripted_port::set_paced(paced);
    echo_enabled = false;
    open_port(1);
    // One answer per unit the host writes: the request, data Packets 2 (its
    // ACK doubled), 3 (NAKed), 4 (chunk 2 again) and 5 (chunk 3), the EOT,
    // then the reply.
    std::vector<Bytes> answers = consent();
    answers.insert(answers.end(),
                   {{ACK}, {ACK, ACK}, {NAK}, {ACK}, {ACK}, {ACK}, packet_bytes(1, "AEX"), {EOT}, {ENQ}});
    scripted_port::answer_units(answers);
    Bytes file = file_of(2 * write_data_bytes + 100);
    ::testing::internal::CaptureStderr();
    const int written = put_file(static_cast<int>(file.size()), file.data(), "D");
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, transfer_unproven) << said;
    std::vector<Bytes> packets = packets_after_opening();
    ASSERT_EQ(packets.size(), 5u) << said;
    EXPECT_EQ(payload_of(packets[2]), payload_of(packets[3]));
    EXPECT_NE(payload_of(packets[3]), payload_of(packets[4]));
    EXPECT_NE(payload_of(packets[1]), payload_of(packets[2]));
  }
}

TEST_F(FileCommands, TheClosingEotIsRepeatedUntilAck) {
  std::vector<Bytes> answers = consent();
  answers.insert(answers.end(), {{ACK}, {ACK}, {CAN}, {NAK}, {ACK}, packet_bytes(1, "AEX"), {EOT}, {ENQ}});
  scripted_port::answer_units(answers);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(put_file(0, nullptr, "E"), transfer_unproven);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(count_units(EOT), 1u + 3);
}

TEST_F(FileCommands, WriteNumbersWrapAfter255Packets) {
  std::size_t size = 253 * 300;
  Bytes file = file_of(size);
  scripted_port::answer_units(write_conversation(301));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(put_file(static_cast<int>(size), file.data(), "WRAP"), transfer_done);
  ::testing::internal::GetCapturedStderr();
  std::vector<Bytes> packets = packets_after_opening();
  ASSERT_EQ(packets.size(), 302u);
  for (std::size_t i = 0; i < packets.size(); ++i) {
    ASSERT_EQ(packets[i][1], static_cast<std::uint8_t>(i + 1)) << i;
    ASSERT_EQ(packets[i][2], static_cast<std::uint8_t>(~(i + 1))) << i;
  }
  EXPECT_EQ(packets[255][1], 0x00);
}

TEST_F(FileCommands, WithoutAexTheWriteFailed) {
  scripted_port::answer_units(write_conversation(1, "ANG"));
  Bytes file = file_of(5);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(put_file(5, file.data(), "FULL.TXT"), transfer_refused);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "oFULL.TXT" + sjis(":送信に失敗しました") + "\n");
}

TEST_F(FileCommands, NoConsentToAWriteSendsNothingMore) {
  scripted_port::answer_units(refusal());
  Bytes file = file_of(5);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(put_file(5, file.data(), "X"), transfer_refused);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            sjis("Zaurus が未接続または待機状態にありません") + "\n");
  EXPECT_EQ(scripted_port::written_units().size(), 5u);
}

TEST_F(FileCommands, WriteNamesAreBoundedByTheWorkBuffer) {
  std::string too_long(write_name_max_length + 1, 'n');
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(put_file(0, nullptr, too_long.c_str()), transfer_not_started);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), too_long + ": file name too long for a request\n");
  EXPECT_EQ(put_file(-1, nullptr, "NEGATIVE"), transfer_not_started);
  EXPECT_TRUE(scripted_port::written().empty());

  std::string longest(write_name_max_length, 'n');
  scripted_port::answer_units(write_conversation(1));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(put_file(0, nullptr, longest.c_str()), transfer_done);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(payload_of(packets_after_opening().at(0)).size(), static_cast<std::size_t>(work_buffer_size));
}

TEST_F(FileCommands, RoundTripOverAnEchoingCable) {
  scripted_port::reset();
  open_port(1);  // echo suppression on
  scripted_port::set_loopback(true);
  Bytes file = file_of(300);
  scripted_port::answer_units(write_conversation(2));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(put_file(300, file.data(), "ECHO"), transfer_done);
  await_enq();
  scripted_port::answer_units(read_conversation(afv_train(file, 253)));
  Bytes buffer(300);
  EXPECT_EQ(get_file(300, buffer.data(), "ECHO"), 300);
  await_enq();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "oo end\nooo end\n");
  EXPECT_EQ(buffer, file);
  EXPECT_EQ(echo_pending(), 0);
}

}  // namespace
