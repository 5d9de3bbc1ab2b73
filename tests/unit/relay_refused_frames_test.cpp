// The optical relay framing against the scripted port: a frame refused as
// damaged, foreign, too long, cut off or empty is drained, answered, and its
// unit taken on the resend.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "pclink/echo.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/relay.h"
#include "pclink/relay_framing.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"
#include "support/scripted_port.h"
#include "unit/relay_test_support.h"

namespace {

using namespace relay_test;
using scripted_port::Bytes;
using scripted_port::packet_bytes;

TEST_F(Relay, ADamagedFrameGetsTheNakBlockAndIsTakenOnTheResend) {
  FrameShape damaged;
  damaged.checksum_delta = 1;
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({ACK}, damaged)}));
  scripted_port::queue_timeout();  // the sender waits for our answer
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({ACK})}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_byte(), ACK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "opt check sum error\n");
  EXPECT_EQ(line_written(),
            concat({control_block(relay_syn), {0x00, 0x00, 0x00, 0x00, 0x00, 0x96, 0x82, 0x15},
                    control_block(relay_syn), control_block(relay_ack)}));
}

TEST_F(Relay, AFrameAfterASingleZeroByteIsNotSeenAndTheGrantIsRepeated) {
  FrameShape one_zero;
  one_zero.zeros = 1;
  // Unanswered, the device sends its ENQ block again; the host, still
  // looking for the frame, takes that block for a block of the wrong kind
  // and waits for the next ENQ block.
  scripted_port::queue_incoming(
      concat({control_block(relay_enq), relay_frame({0x41}, one_zero), control_block(relay_enq)}));
  scripted_port::queue_timeout();
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({0x42})}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_byte(), 0x42);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Packet format error\n");
  EXPECT_EQ(line_written(), concat({control_block(relay_syn), control_block(relay_syn), control_block(relay_ack)}));
}

TEST_F(Relay, FrameNumbersOtherThan0xFFFFMustBeTheExpectedOne) {
  FrameShape numbered;
  numbered.number = 0x0001;
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({0x31}, numbered)}));
  scripted_port::queue_timeout();
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({0x32})}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_byte(), 0x32);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "packet number error\n");
  // No control block answers a refused number: the sender times out.
  EXPECT_EQ(line_written(), concat({control_block(relay_syn), control_block(relay_syn), control_block(relay_ack)}));

  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({0x33}, numbered)}));
  std::uint8_t buffer[4];
  EXPECT_EQ(relay_recv_frame(buffer, sizeof buffer, 1), 1);
  EXPECT_EQ(buffer[0], 0x33);
}

TEST_F(Relay, AnotherKindAfterTheMarkIsAFormatError) {
  FrameShape control_kind;
  control_kind.kind = 0x82;
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({0x31}, control_kind)}));
  scripted_port::queue_timeout();
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({0x32})}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_byte(), 0x32);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Packet format error\n");
  EXPECT_EQ(line_written(), concat({control_block(relay_syn), control_block(relay_syn), control_block(relay_ack)}));
}

TEST_F(Relay, AFrameLongerThanTheBufferIsRefusedWithoutOverrunningIt) {
  Bytes huge(5000, 0x5A);
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame(huge)}));
  scripted_port::queue_timeout();
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({1, 2, 3})}));
  std::uint8_t buffer[24] = {};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(relay_recv_frame(buffer, 16, relay_any_frame_number), 3);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "opt frame too long\n");
  EXPECT_EQ(buffer[2], 3);
  EXPECT_EQ(buffer[16], 0x00);  // beyond the capacity nothing was written
  const Bytes& line = line_written();
  ASSERT_GE(line.size(), 16u);
  EXPECT_EQ(Bytes(line.begin() + 8, line.begin() + 16), control_block(relay_nak));
}

TEST_F(Relay, APacketCutShortByItsFrameIsDamagedNotCompletedFromAnEarlierFrame) {
  Bytes whole = packet_bytes(1, "DOK");
  Bytes cut(whole.begin(), whole.begin() + 7);  // SOH, number, complement, length, "DO"
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame(whole)}));
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame(cut)}));
  std::uint8_t buffer[16];
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 1), 3);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 1), recv_bad_packet);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "p-check sum error\n");
}

// The frame header of a frame that announces claimed payload bytes.
Bytes frame_header_claiming(int claimed) {
  Bytes header = relay_frame({});
  header.resize(15);
  header[13] = static_cast<std::uint8_t>(claimed & 0xFF);
  header[14] = static_cast<std::uint8_t>(claimed >> 8);
  return header;
}

TEST_F(Relay, AFrameWhoseBytesStopComingIsAbandonedAtTheFirstTimeOut) {
  for (int claimed : {20, 4000}) {
    SCOPED_TRACE(claimed);
    scripted_port::reset();
    echo_enabled = false;
    open_port(link_mode_relay);
    scripted_port::queue_incoming(concat({control_block(relay_enq), frame_header_claiming(claimed), {0x41, 0x42}}));
    queue_announcements({ACK}, 200);  // enough for one frame's claim, read on
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(recv_byte(), ACK);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "opt check sum error\n");
    // Read on at 1 s per missing byte, the claim would deafen the host for
    // claimed seconds; here one byte time-out and a short drain.
    EXPECT_LT(scripted_port::elapsed_ms(), 1500);
    EXPECT_EQ(line_written(), concat({control_block(relay_syn), control_block(relay_nak),
                                                control_block(relay_syn), control_block(relay_ack)}));
  }
}

TEST_F(Relay, AShortFrameIsAbandonedEvenWhileTheDeviceKeepsAnnouncing) {
  // The device sends 20 of the 3000 bytes a damaged length claims, then,
  // hearing no answer, announces again every half second. Waiting 1 s for
  // each promised byte, the host would read those ENQ blocks as payload for
  // minutes; a frame's own bytes never pause, so the first pause ends it.
  echo_enabled = false;
  open_port(link_mode_relay);
  scripted_port::queue_incoming(concat({control_block(relay_enq), frame_header_claiming(3000), Bytes(20, 0x41)}));
  for (int i = 0; i < 10; ++i) {
    scripted_port::queue_gap(500);
    scripted_port::queue_incoming(control_block(relay_enq));
  }
  scripted_port::queue_gap(500);
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({ACK})}));
  scripted_port::on_silence([] {
    if (scripted_port::elapsed_ms() > 60000) throw std::runtime_error("the host is still reading the frame");
  });
  ::testing::internal::CaptureStderr();
  int unit = -1;
  EXPECT_NO_THROW(unit = recv_byte());
  std::string messages = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(unit, ACK);
  EXPECT_EQ(messages, "opt check sum error\n");
  EXPECT_LT(scripted_port::elapsed_ms(), 10000);
}

TEST_F(Relay, ARefusedFrameIsDrainedSoNoneOfItsBytesIsTakenForABlock) {
  // Each refused frame carries an ENQ block in its payload; taken for the
  // device's announcement, it would be granted with a SYN block.
  const Bytes inner_enq = control_block(relay_enq, 2);
  FrameShape other_kind;
  other_kind.kind = 0x83;
  FrameShape other_number;
  other_number.number = 0x0002;
  struct Case {
    Bytes frame;
    std::string message;
    Bytes answer;  // our answer to the refused frame
  };
  const std::vector<Case> cases = {
      {relay_frame(inner_enq, other_kind), "Packet format error\n", {}},
      {relay_frame(inner_enq, other_number), "packet number error\n", {}},
      {relay_frame(concat({Bytes(20, 0x33), inner_enq})), "opt frame too long\n", control_block(relay_nak)},
  };
  for (const Case& refused : cases) {
    SCOPED_TRACE(refused.message);
    scripted_port::reset();
    echo_enabled = false;
    open_port(link_mode_relay);
    scripted_port::queue_incoming(concat({control_block(relay_enq), refused.frame}));
    queue_announcements({0x07}, 3);
    std::uint8_t buffer[24];
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(relay_recv_frame(buffer, 16, 1), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), refused.message);
    EXPECT_EQ(buffer[0], 0x07);
    EXPECT_EQ(line_written(),
              concat({control_block(relay_syn), refused.answer, control_block(relay_syn), control_block(relay_ack)}));
  }
}

TEST_F(Relay, TheDrainEndsOnALineThatNeverFallsSilent) {
  FrameShape damaged;
  damaged.checksum_delta = 1;
  const std::size_t babble = 3 * relay_buffer_size;
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({ACK}, damaged), Bytes(babble, 0x55)}));
  queue_announcements({ACK}, 1);
  std::size_t left_at_nak = 0;
  scripted_port::on_write([&](std::uint8_t) {
    if (line_written().size() == 16) left_at_nak = scripted_port::incoming_left();
  });
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_byte(), ACK);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Bytes(line_written().begin() + 8, line_written().begin() + 16),
            control_block(relay_nak));
  // Some of the babble was drained before the NAK block, but not all of it.
  EXPECT_LT(left_at_nak, babble);
  EXPECT_GT(left_at_nak, babble - 2 * relay_buffer_size);
}

// Zero bytes inserted into a frame's header make its length and its sum
// both read as zero: such an empty frame is refused like a damaged one
// (every unit has at least one byte), and the unit it stood for is taken
// on the resend, never a byte left over from the frame before.
TEST_F(Relay, AnEmptyFrameIsRefusedAndTheUnitTakenOnTheResend) {
  RelayPeer peer;
  peer.attach();
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({ACK})}));
  EXPECT_EQ(recv_byte(), ACK);
  flush_held_line();  // the ACK block for that frame, before the replies below
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({})}));
  peer.replies = {Bytes{}, concat({control_block(relay_enq)}), relay_frame({NAK})};
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_byte(), NAK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "opt check sum error\n");
  ASSERT_GE(peer.blocks.size(), 4u);
  EXPECT_EQ(peer.blocks[3], control_block(relay_nak));
}

}  // namespace
