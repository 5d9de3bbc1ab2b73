// The optical relay framing against the scripted port: the exact blocks on
// the line, the handshake around each frame, and its recovery from lost,
// damaged and foreign blocks.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>

#include "pclink/conversation.h"
#include "pclink/echo.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/relay.h"
#include "pclink/relay_framing.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"
#include "support/scripted_port.h"

namespace {

using scripted_port::Bytes;
using scripted_port::bytes_of;
using scripted_port::packet_bytes;

// What has reached the line by the end of the exchange: the ACK block of a
// frame taken waits to go out with our next unit, or before our next read.
const Bytes& line_written() {
  flush_held_line();
  return scripted_port::written();
}

Bytes control_block(std::uint8_t code, int zeros = 5) {
  Bytes block(zeros, 0x00);
  block.insert(block.end(), {0x96, 0x82, code});
  return block;
}

struct FrameShape {
  int zeros = 5;
  std::uint8_t kind = 0x81;
  int number = 0xFFFF;
  Bytes fixed = {0x10, 0x01, 0x40, 0xFE};  // offsets 7 and 10 to 12
  int checksum_delta = 0;
};

Bytes relay_frame(const Bytes& payload, const FrameShape& shape = {}) {
  Bytes frame(shape.zeros, 0x00);
  std::size_t n = payload.size();
  unsigned sum = 0;
  for (std::uint8_t b : payload) {
    sum += b;
  }
  sum = (sum + shape.checksum_delta) & 0xFFFF;
  frame.insert(frame.end(), {0x96, shape.kind, shape.fixed[0], static_cast<std::uint8_t>(shape.number & 0xFF),
                             static_cast<std::uint8_t>(shape.number >> 8), shape.fixed[1], shape.fixed[2],
                             shape.fixed[3], static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)});
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame.insert(frame.end(), {static_cast<std::uint8_t>(sum & 0xFF), static_cast<std::uint8_t>(sum >> 8)});
  return frame;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// The adapter's side of the host's outgoing frames: splits what the host
// writes into relay blocks (the host always sends five zero bytes, so each
// block starts cleanly) and answers each complete block with the next
// scripted reply, or, once those are used up, with what respond makes of
// the block. An empty reply leaves the host to its time-out.
struct RelayPeer {
  Bytes pending;
  std::vector<Bytes> blocks;
  std::deque<Bytes> replies;
  std::function<Bytes(const Bytes& block)> respond;

  static bool complete(const Bytes& block) {
    if (block.size() < 8) {
      return false;
    }
    if (block[6] == 0x82) {
      return true;
    }
    if (block.size() < 15) {
      return false;
    }
    return block.size() == 17u + block[13] + 256u * block[14];
  }

  void take(std::uint8_t byte) {
    pending.push_back(byte);
    if (!complete(pending)) {
      return;
    }
    blocks.push_back(pending);
    pending.clear();
    if (!replies.empty()) {
      scripted_port::queue_incoming(replies.front());
      replies.pop_front();
    } else if (respond) {
      scripted_port::queue_incoming(respond(blocks.back()));
    }
  }

  void attach() {
    scripted_port::on_write([this](std::uint8_t byte) { take(byte); });
  }
};

class Relay : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    echo_enabled = false;
    open_port(link_mode_relay);
  }
  // A peer answering our writes lives in the test: an ACK block still held
  // for our next unit must not reach it after the test has ended.
  void TearDown() override { scripted_port::reset(); }
};

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

TEST_F(Relay, AnythingButAckMakesTheSenderStartAgainFromTheEnqBlock) {
  RelayPeer peer;
  // A NAK, then another code instead of SYN, then silence after the frame,
  // then SYN and ACK.
  peer.replies = {control_block(relay_syn), control_block(relay_nak), control_block(relay_ack),
                  control_block(relay_syn), Bytes{},  control_block(relay_syn), control_block(relay_ack)};
  peer.attach();
  send_control(EOT);
  Bytes enq = control_block(relay_enq);
  Bytes frame = relay_frame({EOT});
  EXPECT_EQ(peer.blocks, (std::vector<Bytes>{enq, frame, enq, enq, frame, enq, frame}));
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
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

TEST_F(Relay, BlockStartsWithTwoZeroBytesAndAnyFixedBytesAreTaken) {
  FrameShape shape;
  shape.zeros = 2;
  shape.fixed = {0xAA, 0x00, 0x96, 0x55};
  scripted_port::queue_incoming(concat({control_block(relay_enq, 2), relay_frame(packet_bytes(1, "DOK"), shape)}));
  std::uint8_t buffer[16];
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 1), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "DOK");
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

TEST_F(Relay, SilenceAfterTheGrantGoesBackToWaitingForTheEnqBlock) {
  scripted_port::queue_incoming(control_block(relay_enq));
  scripted_port::queue_timeout();
  scripted_port::queue_timeout();
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({0x07})}));
  EXPECT_EQ(recv_byte(), 0x07);
  EXPECT_EQ(line_written(), concat({control_block(relay_syn), control_block(relay_syn), control_block(relay_ack)}));
}

TEST_F(Relay, ADeadPortEndsTheRunAtItsFirstFailedTransfer) {
  // An unplugged adapter or a hung-up line fails every transfer at once:
  // retried, that would be a busy loop printing error lines without end.
  // One error line ("r-error=5" or "w_error=5", on standard error) and "TimeOut".
  const char* one_line_then_timeout = "^(r-error=5\n|w_error=5\n)?TimeOut\n$";
  scripted_port::fail_writes(5);
  scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({ENQ})}));
  EXPECT_EXIT(recv_byte(), ::testing::ExitedWithCode(1), one_line_then_timeout);
  scripted_port::fail_writes(0);
  for (int i = 0; i < 1000; ++i) {
    scripted_port::queue_read_failure(5);
  }
  scripted_port::queue_incoming(concat({control_block(relay_syn), control_block(relay_ack)}));
  EXPECT_EXIT(send_control(ACK), ::testing::ExitedWithCode(1), one_line_then_timeout);
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

// The frame header of a frame that announces claimed payload bytes.
Bytes frame_header_claiming(int claimed) {
  Bytes header = relay_frame({});
  header.resize(15);
  header[13] = static_cast<std::uint8_t>(claimed & 0xFF);
  header[14] = static_cast<std::uint8_t>(claimed >> 8);
  return header;
}

// The device announces a good frame again after each silence, times over.
void queue_announcements(const Bytes& unit, int times) {
  for (int i = 0; i < times; ++i) {
    scripted_port::queue_timeout();
    scripted_port::queue_timeout();
    scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame(unit)}));
  }
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

// The device, having a frame of its own to send, answers our ENQ block with
// its own for this many rounds before it gives in, so that a host that never
// gives way still ends (wrongly) rather than hanging the test.
constexpr int device_insists = 100;

TEST_F(Relay, WhenTheDeviceAnnouncesItsAnswerOverOurResendWeTakeItAndSendOursNoMore) {
  // Our frame reached the device, whose ACK block was lost: it announces its
  // answer while we announce our frame again.
  bool frame_taken = false;
  bool answer_delivered = false;
  int insisted = 0;
  RelayPeer peer;
  peer.respond = [&](const Bytes& block) -> Bytes {
    if (block.size() > 8) {
      // Taken twice, and the answer announced again.
      if (frame_taken) return concat({control_block(relay_ack), control_block(relay_enq)});
      frame_taken = true;
      return control_block(relay_enq);
    }
    if (block == control_block(relay_syn)) return relay_frame({ACK});
    if (block == control_block(relay_ack)) answer_delivered = true;
    if (block == control_block(relay_enq)) {
      if (frame_taken && !answer_delivered && ++insisted < device_insists) return control_block(relay_enq);
      return control_block(relay_syn);
    }
    return {};
  };
  peer.attach();
  send_control(EOT);
  const int reads = scripted_port::read_count();
  EXPECT_EQ(recv_byte(), ACK);
  EXPECT_EQ(scripted_port::read_count(), reads);  // the answer was kept, not read again
  flush_held_line();  // the ACK block for it waits for our next unit
  EXPECT_EQ(peer.blocks, (std::vector<Bytes>{control_block(relay_enq), relay_frame({EOT}), control_block(relay_syn),
                                            control_block(relay_ack)}));
  EXPECT_EQ(scripted_port::pauses_ms(), std::vector<int>{18});
}

TEST_F(Relay, WhenTheDeviceRepeatsItsLastFrameOverOurAnnouncementWeTakeItOnceAndSendOurs) {
  // Our ACK block for the device's last frame was lost: the device announces
  // that frame again while we announce our next one.
  bool repeat_delivered = false;
  int insisted = 0;
  RelayPeer peer;
  peer.respond = [&](const Bytes& block) -> Bytes {
    if (block.size() > 8) return concat({control_block(relay_ack), control_block(relay_enq), relay_frame({NAK})});
    if (block == control_block(relay_syn)) return relay_frame({ACK});
    if (block == control_block(relay_ack)) repeat_delivered = true;
    if (block == control_block(relay_enq)) {
      if (!repeat_delivered && ++insisted < device_insists) return control_block(relay_enq);
      return control_block(relay_syn);
    }
    return {};
  };
  peer.attach();
  send_control(EOT);
  EXPECT_EQ(recv_byte(), NAK);  // the device's new unit, not the repeated one
  flush_held_line();  // the ACK block for it waits for our next unit
  EXPECT_EQ(peer.blocks, (std::vector<Bytes>{control_block(relay_enq), control_block(relay_syn), control_block(relay_ack),
                                            control_block(relay_enq), relay_frame({EOT}), control_block(relay_syn),
                                            control_block(relay_ack)}));
}

TEST_F(Relay, ALiveDeviceThatNeverLetsAFrameThroughEndsTheRunButSilenceDoesNot) {
  // Refused 200 times, then taken: far more refusals in a row than a sane
  // line ever makes.
  int refusals = 0;
  RelayPeer peer;
  peer.respond = [&](const Bytes& block) -> Bytes {
    if (block.size() > 8) return control_block(++refusals < 200 ? relay_nak : relay_ack);
    return control_block(relay_syn);
  };
  peer.attach();
  EXPECT_EXIT(send_control(ACK), ::testing::ExitedWithCode(1), "^TimeOut\n$");

  scripted_port::on_write(nullptr);
  FrameShape damaged;
  damaged.checksum_delta = 1;
  for (int i = 0; i < 200; ++i) {
    scripted_port::queue_incoming(concat({control_block(relay_enq), relay_frame({ACK}, damaged)}));
    scripted_port::queue_timeout();
  }
  queue_announcements({ACK}, 1);
  EXPECT_EXIT(recv_byte(), ::testing::ExitedWithCode(1), "opt check sum error\nTimeOut\n$");
}

// Silence is retried with the ENQ block every half second, but not for
// ever: a device that took a damaged frame for a sound one waits for a unit
// that never comes while we wait for its answer. Sending or receiving, a
// unit met by nothing but silence ends the run after 10 s, as on a cable.
TEST_F(Relay, AnExchangeMetOnlyBySilenceEndsWithTimeOutAfterTenSeconds) {
  // Nothing came back in the whole run: the ending says what to check.
  const char* silence_ending = "^TimeOut\nCOM2: nothing answered: check the port";
  auto send_into_silence = [] {
    send_control(EOT);
    std::fprintf(stderr, "sent\n");
  };
  EXPECT_EXIT(send_into_silence(), ::testing::ExitedWithCode(1), silence_ending);
  auto receive_from_silence = [] {
    recv_byte();
    std::fprintf(stderr, "received\n");
  };
  EXPECT_EXIT(receive_from_silence(), ::testing::ExitedWithCode(1), silence_ending);
  // The same bound in virtual time: at most one more half-second hunt.
  scripted_port::on_silence([] {
    if (scripted_port::elapsed_ms() > 12000) throw std::runtime_error("still waiting");
  });
  EXPECT_EXIT(recv_byte(), ::testing::ExitedWithCode(1), silence_ending);
}

// A line that never stops sending, whether noise or nothing but zero bytes,
// never shows a block; the hunt gives up as after a silence, so the bound
// above holds there too, instead of reading for as long as bytes come.
TEST_F(Relay, ABabblingLineOrARunOfZerosEndsTheHunt) {
  for (std::uint8_t babble : {std::uint8_t{0x55}, std::uint8_t{0x00}}) {
    SCOPED_TRACE(babble);
    scripted_port::reset();
    echo_enabled = false;
    open_port(link_mode_relay);
    scripted_port::queue_incoming(Bytes(20000, babble));
    EXPECT_EQ(recv_relay_control(), -1);
    EXPECT_GT(scripted_port::incoming_left(), 0u);
    EXPECT_LT(scripted_port::incoming_left(), 20000u - 4096u);
  }
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
