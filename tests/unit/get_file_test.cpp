// get_file against a scripted device: the exact request, the numbering,
// the repeats and every way a read train can end.
#include <gtest/gtest.h>

#include <cstdio>
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

// The train ended with the device's own closing ENQ, which it took, so the
// caller's await_enq returns without reading the line.
void expect_closing_enq_taken() {
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
  int reads = scripted_port::read_count();
  await_enq();
  EXPECT_EQ(scripted_port::read_count(), reads);
}

TEST_F(FileCommands, ReadRequestCarriesTheRawCapacityAndIsSentByLength) {
  scripted_port::answer_units(read_conversation({}));
  Bytes buffer(16);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(fetch_limit, buffer.data(), "MEMO.TXT"), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "o end\n");
  const auto& units = scripted_port::written_units();
  ASSERT_EQ(units.size(), 9u);
  EXPECT_EQ(units[0], (Bytes{0x01, 0x01, 0xFE, 0x03, 0x00, 0x43, 0x46, 0x56, 0xDF, 0x00}));
  std::string request("RFV\x00\x00\x02S1:MEMO.TXT", 17);
  request.push_back('\0');
  EXPECT_EQ(units[5], packet_bytes(1, request));
  EXPECT_EQ(payload_of(units[5]).size(), 8u + 10);
  // EOT closes the request, ENQ invites the train, ACK takes the EOT.
  EXPECT_EQ(units[6], Bytes{EOT});
  EXPECT_EQ(units[7], Bytes{ENQ});
  EXPECT_EQ(units[8], Bytes{ACK});
  expect_closing_enq_taken();
}

TEST_F(FileCommands, ReadsEverySizeWholeAndAcknowledgesEachPacket) {
  for (std::size_t size : {1u, 253u, 254u, 506u, 131072u}) {
    SCOPED_TRACE(size);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    Bytes file = file_of(size);
    std::vector<Bytes> train = afv_train(file, 253);
    scripted_port::answer_units(read_conversation(train));
    Bytes buffer(fetch_limit + 1, 0xEE);
    ::testing::internal::CaptureStderr();
    int count = get_file(fetch_limit, buffer.data(), "F");
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(count, static_cast<int>(size));
    EXPECT_TRUE(std::equal(file.begin(), file.end(), buffer.begin()));
    EXPECT_EQ(buffer[size], 0xEE);
    // One ACK per data Packet, one for the EOT, one each in the opening.
    EXPECT_EQ(count_units(ACK), train.size() + 1 + 2);
    EXPECT_EQ(err, std::string(train.size() + 1, 'o') + " end\n");
    expect_closing_enq_taken();
  }
}

TEST_F(FileCommands, ReadNumbersWrapAfter255Packets) {
  // 300 Packets of one byte: numbers 256 and on go out as 0x00, 0x01, ...
  Bytes file = file_of(300);
  scripted_port::answer_units(read_conversation(afv_train(file, 1)));
  Bytes buffer(300);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(300, buffer.data(), "W"), 300);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(buffer, file);
}

TEST_F(FileCommands, ADamagedReadPacketIsNakedAndExpectedAgain) {
  Bytes damaged = packet_bytes(1, "AFVabc");
  damaged.back() ^= 0x01;
  std::vector<Bytes> answers = consent();
  answers.push_back({ACK});
  answers.push_back({ACK});
  answers.push_back(damaged);                    // to ENQ
  answers.push_back(packet_bytes(1, "AFVabc"));  // to NAK: the same number again
  answers.push_back(packet_bytes(2, "AFVdef"));  // to ACK
  answers.push_back({EOT});
  answers.push_back({ENQ});
  scripted_port::answer_units(answers);
  Bytes buffer(16);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(16, buffer.data(), "D"), 6);
  // One mark per reception attempt, the failed one included.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "p-check sum error\noooo end\n");
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 6), "abcdef");
  EXPECT_EQ(count_units(NAK), 1u);
}

// The device took our NAK to Packet 2 for the answer to Packet 3 (it was
// one Packet ahead) and will not send Packet 2 again: the rest of the
// train is answered with ACK to its end, and the file read again.
TEST_F(FileCommands, ATrainThatLostAPacketIsFinishedAndReadAgain) {
  Bytes damaged = packet_bytes(2, "AFVdef");
  damaged.back() ^= 0x01;
  std::vector<Bytes> answers = consent();
  answers.insert(answers.end(), {{ACK}, {ACK}, packet_bytes(1, "AFVabc"), damaged, packet_bytes(3, "AFVghi"),
                                 packet_bytes(4, "AFVjkl"), {EOT}, {ENQ}});
  const std::vector<Bytes> whole = read_conversation(
      {packet_bytes(1, "AFVabc"), packet_bytes(2, "AFVdef"), packet_bytes(3, "AFVghi"), packet_bytes(4, "AFVjkl")});
  answers.insert(answers.end(), whole.begin(), whole.end());
  scripted_port::answer_units(answers);
  Bytes buffer(16, 0xEE);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(16, buffer.data(), "F"), 12);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 12), "abcdefghijkl");
  EXPECT_NE(err.find("a data Packet out of sequence: the data did not come whole\n"), std::string::npos) << err;
  EXPECT_NE(err.find("F: reading it again from the start\n"), std::string::npos) << err;
  // One NAK, to the damaged Packet; Packet 4 and the EOT of the broken
  // train answered with ACK like the rest.
  EXPECT_EQ(count_units(NAK), 1u);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

// A fetch into a pipe cannot be read a second time: what it was given
// stays given, and a lost Packet ends the fetch as before.
TEST_F(FileCommands, APipeIsNoSinkForASecondRead) {
  std::FILE* pipe = popen("true", "r");
  ASSERT_NE(pipe, nullptr);
  TrainSink sink;
  sink.file = pipe;
  EXPECT_FALSE(restart_sink(sink));
  pclose(pipe);
}

TEST_F(FileCommands, AngInTheMiddleOfATrainIsARefusal) {
  std::vector<Bytes> answers = consent();
  answers.insert(answers.end(), {{ACK}, {ACK}, packet_bytes(1, "AFVxyz"), packet_bytes(2, "ANG")});
  answers.push_back({ENQ});
  scripted_port::answer_units(answers);
  Bytes buffer(16);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(16, buffer.data(), "GONE.TXT"), transfer_refused);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ooGONE.TXT file not found\n");
}

TEST_F(FileCommands, AWrongTagIsAPacketErrorNotASuccessCount) {
  std::vector<Bytes> answers = consent();
  answers.insert(answers.end(), {{ACK}, {ACK}, packet_bytes(1, "AFVxyz"), packet_bytes(2, "XYZ123")});
  answers.push_back({ENQ});
  scripted_port::answer_units(answers);
  Bytes buffer(16);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(16, buffer.data(), "T"), transfer_packet_error);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "oopacket error\n end\n");
}

TEST_F(FileCommands, AShortPacketEndsTheTrainLikeEot) {
  std::vector<Bytes> answers = consent();
  answers.insert(answers.end(), {{ACK}, {ACK}, packet_bytes(1, "AFVab"), packet_bytes(2, "AF"), {ENQ}});
  scripted_port::answer_units(answers);
  Bytes buffer(16);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(16, buffer.data(), "S"), 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "oo end\n");
}

TEST_F(FileCommands, MoreThanTheCapacityIsFollowedToEotButNeverStored) {
  Bytes file = file_of(506);
  std::vector<Bytes> train = afv_train(file, 253);
  scripted_port::answer_units(read_conversation(train));
  Bytes buffer(300 + 16, 0xEE);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(300, buffer.data(), "BIG"), transfer_overflow);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "oooBIG: too large for the host's buffer, not received\n end\n");
  for (std::size_t i = 300; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xEE) << i;
  // The train was acknowledged to its EOT: the device is back to idle.
  EXPECT_EQ(count_units(ACK), train.size() + 1 + 2);
  expect_closing_enq_taken();
  // The capacity announced is the one enforced: 300 = 2C 01 00.
  Bytes request = payload_of(packets_after_opening().at(0));
  EXPECT_EQ(Bytes(request.begin() + 3, request.begin() + 6), (Bytes{0x2C, 0x01, 0x00}));
}

TEST_F(FileCommands, APacketLongerThanTheWorkBufferIsAnOverflow) {
  Bytes payload = bytes_of("AFV");
  payload.resize(5000, 'x');
  scripted_port::answer_units(read_conversation({packet_bytes(1, payload), packet_bytes(2, "AFVok")}));
  Bytes buffer(fetch_limit);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(fetch_limit, buffer.data(), "L"), transfer_overflow);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "packet too long\noooL: too large for the host's buffer, not received\n end\n");
  EXPECT_EQ(count_units(ACK), 3u + 2);
  expect_closing_enq_taken();
}

TEST_F(FileCommands, NoConsentToAReadSendsNothingMore) {
  std::vector<Bytes> answers = refusal();
  scripted_port::answer_units(answers);
  Bytes buffer(16);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(16, buffer.data(), "X"), transfer_refused);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            sjis("Zaurus が未接続または待機状態にありません") + "\n");
  EXPECT_EQ(scripted_port::written_units().size(), 5u);
}

TEST_F(FileCommands, ReadNamesAreBoundedByTheWorkBuffer) {
  std::string too_long(read_name_max_length + 1, 'n');
  Bytes buffer(16);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(16, buffer.data(), too_long.c_str()), transfer_not_started);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), too_long + ": file name too long for a request\n");
  EXPECT_TRUE(scripted_port::written().empty());

  std::string longest(read_name_max_length, 'n');
  scripted_port::answer_units(read_conversation({}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(get_file(16, buffer.data(), longest.c_str()), 0);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(payload_of(packets_after_opening().at(0)).size(), static_cast<std::size_t>(work_buffer_size));
}

}  // namespace
