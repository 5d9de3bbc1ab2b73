// The host on a noisy line: a damaged or cut-short unit is drained and
// answered once, a damaged echo does not derail the exchange, and a train
// ends only at the device's own end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pclink/answers.h"
#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/file_commands.h"
#include "pclink/line_timing.h"
#include "pclink/link_stream.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "qvdir/device_list.h"
#include "support/scripted_port.h"
#include "unit/noisy_line_test_support.h"

namespace {

using namespace noisy_line_test;
using scripted_port::Bytes;
using scripted_port::packet_bytes;

std::size_t host_naks() {
  std::size_t count = 0;
  for (const Bytes& unit : scripted_port::written_units()) count += unit == Bytes{NAK};
  return count;
}

// One damaged Packet, whatever field the damage hit, is drained, answered by
// one NAK and received again; no byte of it passes for the device's EOT.
TEST_F(NoisyLine, ADamagedDataPacketIsAnsweredByOneNakAndTheFileComesWhole) {
  Bytes file = file_of(1000);
  std::vector<Bytes> train = read_train(file, 250);
  struct Case {
    const char* what;
    std::size_t packet;
    std::size_t at;
    std::uint8_t flip;
  };
  for (const Case& c : {Case{"SOH of Packet 4, whose number is EOT", 3, 0, 0x80}, Case{"SOH of Packet 2", 1, 0, 0x40},
                        Case{"complement", 2, 2, 0x01}, Case{"length beyond any buffer", 1, 4, 0x80},
                        Case{"a payload byte", 0, 40, 0x10}, Case{"checksum", 2, train[2].size() - 1, 0x04}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    serve_read(train, {{c.packet, with_byte_changed(train[c.packet], c.at, c.flip)}});
    expect_whole_fetch(file);
    EXPECT_EQ(host_naks(), 1u);
  }
}

// A Packet cut short by a lost byte: its SOH came, so the rest comes back
// to back or not at all. It is given up after the short in-Packet wait,
// drained and NAKed once, and the Packet sent again completes the file or
// list; the 10 s wait is kept for the device's silence before a Packet.
TEST_F(NoisyLine, APacketCutShortIsNakedAfterTheShortWaitAndSentAgain) {
  Bytes file = file_of(1000);
  struct Case {
    const char* what;
    const char* tag;  // "AFV" for a file, "AFF" for a list
    std::size_t packet;
    std::size_t dropped;  // the byte of that Packet lost on the way
  };
  for (const Case& c : {Case{"a payload byte of Packet 2", "AFV", 1, 100}, Case{"the last checksum byte", "AFV", 3, 259},
                        Case{"the first checksum byte", "AFV", 2, 258}, Case{"a byte of the list", "AFF", 0, 9}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    std::vector<Bytes> train = read_train(file, 250, c.tag);
    Bytes cut = train[c.packet];
    cut.erase(cut.begin() + static_cast<long>(c.dropped));
    serve_read(train, {{c.packet, cut}});
    std::vector<std::uint8_t> received(fetch_limit);
    ::testing::internal::CaptureStderr();
    int count = std::string(c.tag) == "AFV" ? get_file(fetch_limit, received.data(), "F")
                                            : get_list(received.data(), "S1:").result;
    std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(count, static_cast<int>(file.size())) << err;
    EXPECT_TRUE(std::equal(file.begin(), file.end(), received.begin()));
    EXPECT_NE(err.find("packet cut short\n"), std::string::npos) << err;
    EXPECT_EQ(host_naks(), 1u);
    EXPECT_GE(scripted_port::elapsed_ms(), unit_gap_ms());
    EXPECT_LT(scripted_port::elapsed_ms(), pclink_byte_timeout * 10);
  }
}

// Inside a Packet a pause shorter than the in-Packet wait is only a slow
// line; a longer one gives the Packet up, and its late bytes are drained,
// never read as the start of the next unit.
TEST_F(NoisyLine, APauseInsideAPacketIsWaitedOutUpToTheShortWait) {
  Bytes packet = packet_bytes(2, "AFVpaused here");
  std::uint8_t buffer[32];
  Bytes head(packet.begin(), packet.begin() + 9);
  Bytes tail(packet.begin() + 9, packet.end());
  scripted_port::queue_incoming(head);
  scripted_port::queue_gap(unit_gap_ms() / 2);
  scripted_port::queue_incoming(tail);
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 2), 14);

  scripted_port::queue_incoming(head);
  scripted_port::queue_gap(unit_gap_ms() * 3 / 2);
  scripted_port::queue_incoming(tail);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(recv_packet(buffer, sizeof buffer, 2), recv_bad_packet);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "packet cut short\n");
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
  EXPECT_FALSE(link_failed);
}

// A device silent where a Packet should start, or silent again after the NAK
// for a Packet it cut short, still ends the program with "TimeOut".
TEST_F(NoisyLine, ASilentDeviceStillEndsWithTimeOut) {
  Bytes file = file_of(600);
  std::vector<Bytes> train = read_train(file, 250);
  Bytes half(train[1].begin(), train[1].begin() + 120);
  struct Case {
    const char* what;
    std::vector<Bytes> train;
    const char* pattern;
  };
  for (const Case& c : {Case{"silent before Packet 2", {train[0]}, "TimeOut\n$"},
                        Case{"silent after half of Packet 2", {train[0], half}, "packet cut short\n(.|\n)*TimeOut\n$"}}) {
    SCOPED_TRACE(c.what);
    auto fetch = [&] {
      // The device sends each unit once and then nothing, NAK or not.
      serve_read(c.train)->give_up_after = 1;
      Bytes buffer(fetch_limit);
      get_file(fetch_limit, buffer.data(), "F");
    };
    EXPECT_EXIT(fetch(), ::testing::ExitedWithCode(exit_line_failed), c.pattern);
  }
}

// The echo of one host byte comes back damaged (the read request, or an ACK
// inside the train turned into EOT): the exchange goes on, the file whole.
TEST_F(NoisyLine, ADamagedEchoByteDoesNotDerailTheFetch) {
  Bytes file = file_of(600);
  // Host bytes: CFV Packet (10), EOT, ENQ, ACK, ACK (14); the request for
  // "F" (18); EOT, ENQ (34); then the ACK of Packet 1 is byte 35.
  for (std::size_t index : {20u, 35u, 3u}) {
    SCOPED_TRACE(index);
    scripted_port::reset();
    open_port(1);
    scripted_port::set_loopback(true);
    scripted_port::damage_echo(index, 0x02);
    serve_read(read_train(file, 250));
    expect_whole_fetch(file);
    EXPECT_EQ(echo_pending(), 0);
    EXPECT_TRUE(echo_enabled);
  }
}

// An EOT is one byte without a check: the SOH of a damaged Packet (01 and 04
// are one bit apart) or a stray byte reads as one. The device falls silent
// after its own EOT, so one with bytes right behind it is NAKed like a
// damaged Packet and the train comes whole; a doubled EOT is still the end,
// and so is one followed by a damaged ENQ, the only byte an idle device
// sends there.
TEST_F(NoisyLine, OnlyAnEotFollowedBySilenceEndsTheTrain) {
  Bytes file = file_of(1000);
  std::vector<Bytes> train = read_train(file, 250);
  const std::size_t eot = train.size() - 2;
  Bytes junk_then_packet = {EOT, ENQ, ACK, NAK, CAN, SOH};
  junk_then_packet.insert(junk_then_packet.end(), train[2].begin(), train[2].end());
  struct Case {
    const char* what;
    std::size_t unit;
    Bytes sent_instead;
    std::size_t naks;
  };
  for (const Case& c : {Case{"Packet 3's SOH turned into EOT", 2, with_byte_changed(train[2], 0, 0x05), 1},
                        Case{"EOT ENQ ACK NAK CAN SOH before Packet 3", 2, junk_then_packet, 1},
                        Case{"the closing EOT doubled", eot, {EOT, EOT}, 0},
                        Case{"the closing ENQ damaged", eot + 1, {ENQ ^ 0x40}, 0}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    serve_read(train, {{c.unit, c.sent_instead}});
    expect_whole_fetch(file);
    EXPECT_EQ(host_naks(), c.naks);
    EXPECT_LT(scripted_port::elapsed_ms(), pclink_byte_timeout * 10);
  }
}

// The device missed the host's ACK and sent the Packet again: it is
// acknowledged again and not stored twice.
TEST_F(NoisyLine, APacketSentAgainAfterALostAckIsNotStoredTwice) {
  Bytes file = file_of(700);
  std::vector<Bytes> train = read_train(file, 250);
  train.insert(train.begin() + 2, train[1]);
  serve_read(train);
  expect_whole_fetch(file);
  EXPECT_EQ(host_naks(), 0u);
}

// A noise byte before the awaited byte is drained with the rest of its
// burst; the byte the device waits with after it still counts.
TEST_F(NoisyLine, StrayBytesBeforeAnAnswerAreDrainedAndTheLastOneCounts) {
  scripted_port::queue_incoming({0x7F, 0x01, ENQ});
  wait_for(ENQ);
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
  scripted_port::queue_incoming({0x45, 0x04, NAK});
  EXPECT_EQ(recv_answer(), NAK);
  scripted_port::queue_incoming({0x45, 0x04});
  EXPECT_EQ(recv_answer(), 0x45);
  EXPECT_FALSE(link_failed);
}

}  // namespace
