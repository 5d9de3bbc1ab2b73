// get_file and put_file against a scripted device: the exact Packets, the
// numbering, the repeats and every way a train can end.
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

namespace {

using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

// The device's side of the opening exchange: ACK to the command Packet and
// to its EOT, "DOK" to the host's ENQ, EOT after the host's ACK, and ENQ
// (ready) after the second ACK.
std::vector<Bytes> consent() {
  return {{ACK}, {ACK}, packet_bytes(1, "DOK"), {EOT}, {ENQ}};
}

std::vector<Bytes> refusal() {
  return {{ACK}, {ACK}, packet_bytes(1, "ANG"), {EOT}, {ENQ}};
}

// A read after consent: ACK to the request and its EOT, then each data
// Packet in answer to the host's ENQ or ACK, the EOT, and the closing ENQ.
std::vector<Bytes> read_conversation(const std::vector<Bytes>& train) {
  std::vector<Bytes> answers = consent();
  answers.push_back({ACK});
  answers.push_back({ACK});
  for (const Bytes& unit : train) answers.push_back(unit);
  answers.push_back({EOT});
  answers.push_back({ENQ});
  return answers;
}

// A file cut into "AFV" Packets of chunk bytes, numbered from 1.
std::vector<Bytes> afv_train(const Bytes& file, std::size_t chunk) {
  std::vector<Bytes> train;
  for (std::size_t at = 0, number = 1; at < file.size(); at += chunk, ++number) {
    Bytes payload = bytes_of("AFV");
    std::size_t end = std::min(file.size(), at + chunk);
    payload.insert(payload.end(), file.begin() + at, file.begin() + end);
    train.push_back(packet_bytes(static_cast<int>(number), payload));
  }
  return train;
}

Bytes file_of(std::size_t size) {
  Bytes file(size);
  for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return file;
}

Bytes payload_of(const Bytes& unit) {
  return Bytes(unit.begin() + 5, unit.end() - 2);
}

// The host's Packets after the opening exchange (whose units are the
// command, EOT, ENQ, ACK, ACK).
std::vector<Bytes> packets_after_opening() {
  std::vector<Bytes> packets;
  const auto& units = scripted_port::written_units();
  for (std::size_t i = 5; i < units.size(); ++i) {
    if (units[i][0] == SOH) packets.push_back(units[i]);
  }
  return packets;
}

std::size_t count_units(std::uint8_t control) {
  std::size_t count = 0;
  for (const Bytes& unit : scripted_port::written_units()) count += unit == Bytes{control};
  return count;
}

// The train ended with the device's own closing ENQ, which it took, so the
// caller's await_enq returns without reading the line.
void expect_closing_enq_taken() {
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
  int reads = scripted_port::read_count();
  await_enq();
  EXPECT_EQ(scripted_port::read_count(), reads);
}

class FileCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
  }
};

// --- get_file ---

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

// --- put_file ---

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
