// The optical relay framing against the scripted port: its recovery from lost
// blocks and silence, frames that cross on the line, and the bounds that end
// a run when nothing gets through.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

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

}  // namespace
