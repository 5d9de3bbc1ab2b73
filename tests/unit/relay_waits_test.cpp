// The relay framing's waits on an echoing line: the echo of our block and
// the device's block behind it, even after the device's turnaround, are
// taken in one read, so that a frame exchange costs a wake per block we
// send and no more.
#include <gtest/gtest.h>

#include "pclink/echo.h"
#include "pclink/line_timing.h"
#include "pclink/link_stream.h"
#include "pclink/relay.h"
#include "pclink/relay_framing.h"
#include "pclink/serial_port.h"
#include "qvemu/relay_block.h"
#include "support/scripted_port.h"

namespace {

using scripted_port::Bytes;
using scripted_port::bytes_of;

// The device's turnaround after our block: well inside an echo's wait.
constexpr int turnaround_ms = 3;

class RelayWaits : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    open_port(link_mode_relay);
    scripted_port::set_loopback(true);
  }
  void TearDown() override { scripted_port::reset(); }
};

// Queues the device's answer, after a silence of pause_ms, behind the echo
// of the block ending with the host's byte number `after` (counted over the
// run, from 1).
void answer_after_byte(std::size_t after, const Bytes& answer, int pause_ms = turnaround_ms) {
  scripted_port::on_write([after, answer, pause_ms](std::uint8_t) {
    if (scripted_port::written().size() != after) return;
    scripted_port::queue_gap(pause_ms);
    scripted_port::queue_incoming(answer);
  });
}

TEST_F(RelayWaits, OurBlocksEchoAndTheDevicesAnswerAreOneRead) {
  const Bytes syn = qvemu::encode_relay_control(relay_syn);
  answer_after_byte(syn.size(), syn);
  send_relay_control(relay_enq);
  EXPECT_EQ(recv_relay_control(), relay_syn);
  EXPECT_EQ(scripted_port::read_count(), 1);
  EXPECT_EQ(echo_pending(), 0);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

TEST_F(RelayWaits, ABlockThatLostPartOfItsSyncIsHandedOnWithoutWaitingForMore) {
  // Two of the five sync zeros are all a block is sure to keep: a wait
  // for more would last the echo's whole time-out at every block. The
  // block's end is still told by a gap of silence, as without echo.
  answer_after_byte(8, qvemu::encode_relay_control(relay_syn, 2));
  send_relay_control(relay_enq);
  EXPECT_EQ(recv_relay_control(), relay_syn);
  EXPECT_LE(scripted_port::elapsed_ms(), turnaround_ms + unit_gap_ms());
}

TEST_F(RelayWaits, TheGrantsEchoAndTheFrameBehindItAreOneRead) {
  // The device announces its frame; our SYN block's echo and the frame
  // (one payload byte, the shortest there is, with the fewest sync zeros)
  // come back in one read, and the frame is taken whole.
  scripted_port::queue_incoming(qvemu::encode_relay_control(relay_enq));
  qvemu::FrameShape fewest_zeros;
  fewest_zeros.zeros = 2;
  const Bytes frame = qvemu::encode_relay_frame(Bytes{0x06}, fewest_zeros);
  ASSERT_EQ(frame.size(), static_cast<std::size_t>(shortest_frame_received));
  answer_after_byte(qvemu::encode_relay_control(relay_syn).size(), frame);
  std::uint8_t payload[relay_buffer_size];
  EXPECT_EQ(relay_recv_frame(payload, relay_buffer_size, relay_any_frame_number), 1);
  EXPECT_EQ(payload[0], 0x06);
  // The ENQ block, then the SYN block's echo with the frame.
  EXPECT_EQ(scripted_port::read_count(), 2);
}

TEST_F(RelayWaits, AnAnswerLateInTheHuntIsStillTaken) {
  // The wait for the echo and the block behind it is bounded by the hunt's
  // time-out, not by the echo's own: a block that comes late in the hunt
  // is taken, and one that comes after it is not waited for.
  answer_after_byte(8, qvemu::encode_relay_control(relay_ack), relay_hunt_timeout * 10 - 50);
  send_relay_control(relay_enq);
  EXPECT_EQ(recv_relay_control(), relay_ack);
  EXPECT_EQ(echo_pending(), 0);

  scripted_port::reset();
  open_port(link_mode_relay);
  scripted_port::set_loopback(true);
  answer_after_byte(8, qvemu::encode_relay_control(relay_ack), relay_hunt_timeout * 10 + 50);
  send_relay_control(relay_enq);
  EXPECT_EQ(recv_relay_control(), -1);
  EXPECT_LE(scripted_port::elapsed_ms(), relay_hunt_timeout * 10);
}

}  // namespace
