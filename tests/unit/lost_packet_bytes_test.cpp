// A Packet that lost bytes on its way to the device, on an echoing cable.
// The echo is of what reached the device, so it stops short, and the
// device waits seconds for the rest before it refuses the Packet. Filler
// bytes make up the count: the device refuses the Packet at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "pclink/answers.h"
#include "pclink/line_doubts.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"

namespace {

using scripted_port::Bytes;

constexpr std::size_t packet_size = 263;  // SOH, four header bytes, 256 payload bytes, the sum
constexpr std::uint8_t filler = 0xFF;

Bytes data_payload() {
  Bytes payload = scripted_port::bytes_of("RFD");
  for (int i = 0; payload.size() < 256; ++i) payload.push_back(static_cast<std::uint8_t>(0x30 + i % 0x40));
  return payload;
}

// The device at the far end of the cable: every byte that reaches it comes
// back as echo, and once it holds a Packet's count it answers with the next
// of its answers. The host's bytes at the places in to_device_lost (counted
// over the run) never reach it; the echo of the bytes at to_host_lost is
// lost on its way back.
struct FarEnd {
  std::vector<std::size_t> to_device_lost;
  std::vector<std::size_t> to_host_lost;
  std::vector<std::uint8_t> answers;
  std::size_t sent = 0;
  std::size_t held = 0;
  std::size_t answered = 0;

  void hear(std::uint8_t byte) {
    const std::size_t place = sent++;
    if (std::count(to_device_lost.begin(), to_device_lost.end(), place)) return;
    if (!std::count(to_host_lost.begin(), to_host_lost.end(), place)) scripted_port::queue_incoming({byte});
    if (++held < packet_size) return;
    held = 0;
    scripted_port::queue_incoming({answers.at(answered++)});
  }
};

class LostPacketBytes : public ::testing::Test {
 protected:
  void SetUp() override { restart(); }
  void restart() {
    scripted_port::reset();
    open_port(link_mode_cable_19200);
    far_end = FarEnd{};
    scripted_port::on_write([this](std::uint8_t byte) { far_end.hear(byte); });
  }
  // Sends a Packet (the run's first, number 2, comes back whole and is
  // taken, so that the line is known to echo) and reads its answer.
  int answer_to_packet(int number) {
    const Bytes payload = data_payload();
    send_packet(static_cast<int>(payload.size()), number, payload.data());
    return recv_answer();
  }
  bool ends_with_filler(std::size_t count) const {
    const Bytes& written = scripted_port::written();
    return written.size() >= count &&
           std::all_of(written.end() - static_cast<long>(count), written.end(), [](std::uint8_t b) { return b == filler; });
  }
  FarEnd far_end;
};

TEST_F(LostPacketBytes, FillerEndsAPacketThatLostBytesAndTheDeviceRefusesItAtOnce) {
  const struct {
    const char* what;
    std::vector<std::size_t> lost;  // places in the second Packet
  } cases[] = {
      {"a data byte", {100}},
      {"the last byte of the sum", {packet_size - 1}},
      {"two bytes apart", {40, 200}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    restart();
    for (std::size_t place : c.lost) far_end.to_device_lost.push_back(packet_size + place);
    far_end.answers = {ACK, NAK};
    ASSERT_EQ(answer_to_packet(2), ACK);
    const long doubts = line_doubts();
    EXPECT_EQ(answer_to_packet(3), NAK);
    EXPECT_EQ(scripted_port::written().size(), 2 * packet_size + c.lost.size());
    EXPECT_TRUE(ends_with_filler(c.lost.size()));
    // The echo's time and a turnaround or two, not the device's 3 s of
    // patience nor the echo's.
    EXPECT_LT(scripted_port::elapsed_ms(), 1000);
    // Refused, the Packet goes again: nothing on the device is in doubt.
    EXPECT_EQ(line_doubts(), doubts);
    EXPECT_EQ(scripted_port::incoming_left(), 0u);
  }
}

// The device may take a Packet that filler ended, when the sum matches by
// chance: it stored the filler, and the write must be read back.
TEST_F(LostPacketBytes, APacketThatFillerEndedAndTheDeviceTookIsADoubt) {
  far_end.to_device_lost = {packet_size + 100};
  far_end.answers = {ACK, ACK};
  ASSERT_EQ(answer_to_packet(2), ACK);
  const long doubts = line_doubts();
  EXPECT_EQ(answer_to_packet(3), ACK);
  EXPECT_TRUE(ends_with_filler(1));
  EXPECT_GT(line_doubts(), doubts);
}

// No filler where the device had all of the Packet: an echo byte lost on the
// way back, with the answer right behind the echo; nor where the echo says
// nothing yet, on the run's first Packet.
TEST_F(LostPacketBytes, NoFillerWhenTheDeviceHadTheWholePacket) {
  far_end.to_host_lost = {packet_size + 100, packet_size + 262};
  far_end.answers = {ACK, ACK};
  ASSERT_EQ(answer_to_packet(2), ACK);
  EXPECT_EQ(answer_to_packet(3), ACK);
  EXPECT_EQ(scripted_port::written().size(), 2 * packet_size);

  restart();
  far_end.to_device_lost = {100};
  const Bytes payload = data_payload();
  send_packet(static_cast<int>(payload.size()), 2, payload.data());
  scripted_port::queue_gap(3 * 1000);  // the device's patience, then its refusal
  scripted_port::queue_incoming({NAK});
  EXPECT_EQ(recv_answer(), NAK);
  EXPECT_EQ(scripted_port::written().size(), packet_size);
}

}  // namespace
