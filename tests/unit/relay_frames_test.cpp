// The optical relay framing against the scripted port: the exact blocks on
// the line and the handshake around each frame, sent and received.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pclink/conversation.h"
#include "pclink/echo.h"
#include "pclink/packet.h"
#include "pclink/relay_framing.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"
#include "support/scripted_port.h"
#include "unit/relay_test_support.h"

namespace {

using namespace relay_test;
using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

const Bytes ack_unit_frame = {0x00, 0x00, 0x00, 0x00, 0x00, 0x96, 0x81, 0x10, 0xFF,
                              0xFF, 0x01, 0x40, 0xFE, 0x01, 0x00, 0x06, 0x06, 0x00};

TEST_F(Relay, AControlByteTravelsAsOneFrameAfterTheEnqBlock) {
  RelayPeer peer;
  peer.replies = {control_block(relay_syn), control_block(relay_ack)};
  peer.attach();
  send_control(ACK);
  EXPECT_EQ(line_written(), concat({{0x00, 0x00, 0x00, 0x00, 0x00, 0x96, 0x82, 0x05}, ack_unit_frame}));
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

TEST_F(Relay, TheCfvCommandIsThe27ByteFrame) {
  RelayPeer peer;
  peer.replies = {control_block(relay_syn), control_block(relay_ack)};
  peer.attach();
  Bytes cfv = bytes_of("CFV");
  send_packet(3, 1, cfv.data());
  ASSERT_EQ(peer.blocks.size(), 2u);
  EXPECT_EQ(peer.blocks[1], (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x96, 0x81, 0x10, 0xFF, 0xFF, 0x01, 0x40, 0xFE, 0x0A,
                                   0x00, 0x01, 0x01, 0xFE, 0x03, 0x00, 0x43, 0x46, 0x56, 0xDF, 0x00, 0xC1, 0x02}));
}

TEST_F(Relay, ASilentReceiverHearsTheEnqBlockAgainEveryHalfSecond) {
  // The device stays silent for five ENQ blocks, then answers: the sender
  // keeps trying and never ends the program with "TimeOut".
  int enq_blocks = 0;
  RelayPeer peer;
  scripted_port::on_write([&](std::uint8_t byte) {
    peer.take(byte);
    if (peer.pending.empty() && peer.blocks.back() == control_block(relay_enq) && ++enq_blocks == 5) {
      peer.replies = {control_block(relay_ack)};
      scripted_port::queue_incoming(control_block(relay_syn));
    }
  });
  send_control(ENQ);
  EXPECT_EQ(enq_blocks, 5);
  EXPECT_EQ(peer.blocks.size(), 6u);
  EXPECT_EQ(scripted_port::elapsed_ms(), 4 * 500);
}

TEST_F(Relay, ControlBlocksNeedTwoZeroBytesBeforeTheMark) {
  scripted_port::queue_incoming(control_block(relay_syn, 2));
  EXPECT_EQ(recv_relay_control(), relay_syn);
  scripted_port::queue_incoming(concat({{0x55}, control_block(relay_ack, 1), {0x00}}));
  EXPECT_EQ(recv_relay_control(), -1);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

TEST_F(Relay, TheControlHuntPassesOverADataFrame) {
  scripted_port::queue_incoming(concat({relay_frame({0x00, 0x00, 0x96, 0x81}), control_block(relay_ack, 3)}));
  EXPECT_EQ(recv_relay_control(), relay_ack);
}

TEST_F(Relay, AReceivedUnitIsGrantedNoSoonerThan18MsAfterTheEnqBlock) {
  std::size_t pauses_at_syn = 0;
  scripted_port::on_write([&](std::uint8_t) {
    if (line_written().size() == 1) {
      pauses_at_syn = scripted_port::pauses_ms().size();
    }
  });
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({ENQ})}));
  EXPECT_EQ(recv_byte(), ENQ);
  EXPECT_EQ(scripted_port::pauses_ms(), std::vector<int>{18});
  EXPECT_EQ(pauses_at_syn, 1u);
  EXPECT_EQ(line_written(), concat({control_block(relay_syn), control_block(relay_ack)}));
}

TEST_F(Relay, BlockStartsWithTwoZeroBytesAndAnyFixedBytesAreTaken) {
  FrameShape shape;
  shape.zeros = 2;
  shape.fixed = {0xAA, 0x00, 0x96, 0x55};
  scripted_port::queue_incoming(concat({control_block(relay_enq, 2), relay_frame(packet_bytes(1, "DOK"), shape)}));
  std::uint8_t buffer[16];
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 1), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "DOK");
}

TEST_F(Relay, BytesAFrameCarriesBeyondTheUnitAreDropped) {
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({ACK, EOT, ENQ})}));
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({NAK})}));
  EXPECT_EQ(recv_byte(), ACK);
  EXPECT_EQ(recv_byte(), NAK);
}

TEST_F(Relay, AResetOverAnEchoingRelayTakesEveryUnitInItsOwnFrame) {
  scripted_port::reset();
  scripted_port::set_loopback(true);
  open_port(link_mode_relay);
  // The host sends CLE, EOT, ENQ, ACK, ACK and receives ACK, ACK, the reply,
  // EOT and ENQ. After the ACK block for each host frame the device
  // announces its next unit, and sends it when granted.
  RelayPeer peer;
  Bytes grant = control_block(relay_syn, 2);
  Bytes announce = concat({control_block(relay_ack, 3), control_block(relay_enq, 4)});
  for (const Bytes& unit : {Bytes{ACK}, Bytes{ACK}, packet_bytes(1, "DOK"), Bytes{EOT}, Bytes{ENQ}}) {
    for (const Bytes& reply : {grant, announce, relay_frame(unit), Bytes{}}) {
      peer.replies.push_back(reply);
    }
  }
  peer.attach();
  EXPECT_EQ(reset_device(), 1);
  await_enq();
  // Our last ACK block waits for our next unit; once it is out, only its
  // echo is still on its way back.
  flush_held_line();
  EXPECT_EQ(echo_pending(), 8);
  EXPECT_EQ(scripted_port::incoming_left(), 8u);
  std::vector<Bytes> host_frames;
  for (const Bytes& block : peer.blocks) {
    if (block[6] == 0x81) {
      host_frames.push_back(Bytes(block.begin() + 15, block.end() - 2));
    }
  }
  EXPECT_EQ(host_frames, (std::vector<Bytes>{packet_bytes(1, "CLE"), {EOT}, {ENQ}, {ACK}, {ACK}}));
  EXPECT_EQ(scripted_port::pauses_ms(), std::vector<int>(5, 18));
}

}  // namespace
