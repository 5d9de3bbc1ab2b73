// Reading the device's answer to a write Packet on a noisy echoing cable.
// The echo is of what reached the device: bytes the noise added on the way
// make the device end our Packet early and refuse it while the echo of our
// last bytes is still coming back, so its NAK arrives where the echo was
// expected. Taken for an ACK, the Packet would be missing from the device's
// file; read as the refusal it is, the Packet goes again.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "pclink/answers.h"
#include "pclink/conversation.h"
#include "pclink/echo.h"
#include "pclink/line_doubts.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"

namespace {

using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

Bytes data_payload() {
  Bytes payload = bytes_of("RFD");
  for (int i = 0; payload.size() < 256; ++i) payload.push_back(static_cast<std::uint8_t>(0x30 + i % 0x40));
  return payload;
}

// What the host hears after sending `sent` when `added` came in on the way
// to the device after byte `at`: the device answers after the answer_at-th
// byte that reached it (by default as many as we sent) and echoes every
// byte; the echo back loses the bytes at the places in `lost`.
struct Noise {
  std::size_t at = 100;
  Bytes added;
  std::vector<std::size_t> lost;
  std::size_t answer_at = 0;  // 0: as many bytes as were sent
};

Bytes heard_after(const Bytes& sent, const Noise& noise, std::uint8_t answer) {
  Bytes reached(sent.begin(), sent.begin() + static_cast<long>(noise.at));
  reached.insert(reached.end(), noise.added.begin(), noise.added.end());
  reached.insert(reached.end(), sent.begin() + static_cast<long>(noise.at), sent.end());
  const std::size_t answer_at = noise.answer_at == 0 ? sent.size() : noise.answer_at;
  Bytes heard;
  for (std::size_t i = 0; i < reached.size(); ++i) {
    if (i == answer_at) heard.push_back(answer);
    if (std::find(noise.lost.begin(), noise.lost.end(), i) == noise.lost.end()) heard.push_back(reached[i]);
  }
  return heard;
}

class WriteAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    open_port(link_mode_cable_19200);
  }
  Bytes send(int number) {
    const Bytes payload = data_payload();
    send_packet(static_cast<int>(payload.size()), number, payload.data());
    return packet_bytes(number, payload);
  }
};

TEST_F(WriteAnswers, ARefusalAmongTheEchoOfOurBytesIsARefusal) {
  struct Case {
    const char* what;
    Noise noise;
  };
  const Case cases[] = {
      {"two bytes added, two echo bytes lost: the NAK comes before the echo's count is full",
       {100, {0xE6, 0x2D}, {40, 90}, 0}},
      {"two added, one echo byte lost: the NAK takes the last echo byte's place", {100, {0x08, 0x08}, {200}, 0}},
      {"eight garbage bytes, three echo bytes lost",
       {100, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, {30, 31, 250}, 0}},
      {"two added and nothing lost: the NAK follows the echo's count", {100, {0x9E, 0x7B}, {}, 0}},
      // The number doubled shifts the length field: the device refuses a
      // shorter Packet two hundred bytes before our echo ends.
      {"the number doubled", {2, {0x02}, {}, 60}},
  };
  int number = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const long doubts = line_doubts();
    scripted_port::queue_incoming(heard_after(send(number++), c.noise, NAK));
    EXPECT_EQ(recv_answer(), NAK);
    // A refusal read from a place out of step stays in doubt: the write is
    // read back.
    EXPECT_GT(line_doubts(), doubts);
    EXPECT_FALSE(link_failed);
    drain_line();
  }
}

// The device's ACK in such a place is still taken, and so is its ACK after
// an echo shifted over our own NAK bytes: a Packet it stored must not go
// again.
TEST_F(WriteAnswers, AnAckAmongTheEchoOrOurOwnNakBytesShiftedIsNoRefusal) {
  scripted_port::queue_incoming(heard_after(send(2), {100, {0xE6, 0x2D}, {}, 0}, ACK));
  EXPECT_NE(recv_answer(), NAK);
  drain_line();

  Bytes payload = bytes_of("RFD");
  for (int i = 0; payload.size() < 256; ++i) payload.push_back(i % 5 == 0 ? NAK : static_cast<std::uint8_t>(0x40 + i));
  send_packet(static_cast<int>(payload.size()), 3, payload.data());
  scripted_port::queue_incoming(heard_after(packet_bytes(3, payload), {100, {0x5A}, {}, 0}, ACK));
  EXPECT_NE(recv_answer(), NAK);
}

// The device answers a Packet with one byte and falls silent. An ACK with
// a NAK right behind it was one of our own bytes, read where the echo was
// still coming back: the NAK is the answer. An ACK with noise behind it is
// still the ACK.
TEST_F(WriteAnswers, AnAnswerWithBytesRightBehindItIsWeighedWithThem) {
  Bytes heard = send(2);
  heard.insert(heard.end(), {ACK, NAK});
  scripted_port::queue_incoming(heard);
  EXPECT_EQ(recv_answer(), NAK);

  heard = send(3);
  heard.insert(heard.end(), {ACK, 0x7F, 0x30});
  scripted_port::queue_incoming(heard);
  const long doubts = line_doubts();
  EXPECT_EQ(recv_answer(), ACK);
  EXPECT_GT(line_doubts(), doubts);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

// A single flipped bit leaves a NAK one bit from NAK and three from ACK;
// an ACK damaged so stays an answer taken.
TEST_F(WriteAnswers, AnAnswerWithOneBitFlippedIsReadAsTheAnswerItWas) {
  int number = 2;
  for (int bit = 0; bit < 8; ++bit) {
    SCOPED_TRACE(bit);
    Bytes heard = send(number++);
    heard.push_back(static_cast<std::uint8_t>(NAK ^ (1 << bit)));
    scripted_port::queue_incoming(heard);
    EXPECT_EQ(recv_answer(), NAK);

    heard = send(number++);
    heard.push_back(static_cast<std::uint8_t>(ACK ^ (1 << bit)));
    scripted_port::queue_incoming(heard);
    EXPECT_NE(recv_answer(), NAK);
  }
}

// Our own data holds NAK bytes; a whole echo and a clean ACK leave no doubt
// and no second transmission.
TEST_F(WriteAnswers, NakBytesInOurOwnDataAreNotARefusal) {
  Bytes payload = bytes_of("RFD");
  payload.resize(256, NAK);
  const long doubts = line_doubts();
  scripted_port::set_loopback(true);
  scripted_port::answer_units({{ACK}});
  EXPECT_EQ(send_write_packet(static_cast<int>(payload.size()), payload.data(), 2, {RepeatNumber::next}), 3);
  EXPECT_EQ(scripted_port::written_units().size(), 1u);
  EXPECT_EQ(line_doubts(), doubts);
}

}  // namespace
