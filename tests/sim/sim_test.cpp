// The simulator itself: its clock, its line, its faults and its judge. If
// any of these is wrong, the sweep's table means nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>

#include "sim/conversations.h"
#include "sim/sweep.h"
#include "sim/virtual_line.h"

namespace {

using sim::Bytes;
using sim::Direction;
using sim::Fault;
using sim::VirtualLine;

sim::LineSettings cable(bool echo) {
  sim::LineSettings settings;
  settings.echo = echo;
  return settings;
}

Fault fault_at(Direction direction, long index, const std::string& kind) {
  std::optional<Fault> fault = sim::parse_fault(sim::describe_direction(direction) + " " + std::to_string(index) +
                                                " " + kind);
  EXPECT_TRUE(fault.has_value()) << kind;
  return fault.value_or(Fault{});
}

// The host writes bytes at once and stays on the line for a minute; the
// device reads until the line is silent for a second. Returns what the
// device read, with the device's clock at each byte.
struct Delivery {
  Bytes bytes;
  std::vector<std::int64_t> at_us;
};

Delivery deliver(VirtualLine& line, const Bytes& sent) {
  Delivery delivery;
  line.run(
      [&] {
        for (std::uint8_t byte : sent) line.host_write(byte);
        line.host_sleep(60'000'000);
      },
           [&] {
             while (std::optional<std::uint8_t> byte = line.read_byte(1000)) {
               delivery.bytes.push_back(*byte);
               delivery.at_us.push_back(line.now_us());
             }
             // Idle until the session is closed, as the device does.
             line.read_byte(-1);
           });
  return delivery;
}

TEST(VirtualLine, ATenSecondTimeOutEndsAtTenSecondsOfVirtualTimeAndCostsNoWallTime) {
  VirtualLine line(cable(true), {});
  std::optional<std::uint8_t> got = 0x41;
  std::int64_t ended_at = 0;
  const auto began = std::chrono::steady_clock::now();
  const sim::RunEnd end = line.run(
      [&] {
        got = line.host_read(10'000'000);
        ended_at = line.host_now_us();
      },
      [&] { line.read_byte(-1); });
  EXPECT_EQ(end, sim::RunEnd::finished);
  EXPECT_FALSE(got.has_value());
  EXPECT_EQ(ended_at, 10'000'000);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(1));
}

TEST(VirtualLine, BytesArriveOneCharacterTimeApartAtTheLinesRate) {
  VirtualLine fast(cable(false), {});
  const Delivery at_19200 = deliver(fast, {1, 2, 3});
  EXPECT_EQ(at_19200.bytes, (Bytes{1, 2, 3}));
  EXPECT_EQ(at_19200.at_us, (std::vector<std::int64_t>{520, 1040, 1560}));

  sim::LineSettings relay = cable(false);
  relay.baud = 9600;
  relay.parity = true;  // 11 bits a character
  VirtualLine slow(relay, {});
  EXPECT_EQ(deliver(slow, {1, 2}).at_us, (std::vector<std::int64_t>{1145, 2290}));
}

TEST(VirtualLine, TheDeviceEndEchoesWhatReachedIt) {
  VirtualLine line(cable(true), {fault_at(Direction::to_device, 1, "flip:0")});
  Bytes echoed;
  line.run(
      [&] {
        for (std::uint8_t byte : {0x10, 0x20, 0x30}) line.host_write(byte);
        while (std::optional<std::uint8_t> byte = line.host_read(100'000)) echoed.push_back(*byte);
      },
      [&] {
        for (;;) line.read_byte(-1);
      });
  EXPECT_EQ(echoed, (Bytes{0x10, 0x21, 0x30}));
}

TEST(VirtualLine, BothSidesWaitingForEachOtherIsAHangNotAnEndlessRun) {
  sim::LineSettings settings = cable(false);
  settings.hang_after_us = 30'000'000;
  VirtualLine line(settings, {});
  int reads = 0;
  const sim::RunEnd end = line.run(
      [&] {
        for (;;) {
          line.host_read(1'000'000);
          ++reads;
        }
      },
      [&] { line.read_byte(-1); });
  EXPECT_EQ(end, sim::RunEnd::hung);
  EXPECT_EQ(reads, 30);
}

TEST(LineFaults, EachFaultChangesOnlyTheByteAtItsIndex) {
  const Bytes sent = {0x01, 0x02, 0x03, 0x04};
  const struct {
    const char* kind;
    Bytes arrived;
  } cases[] = {
      {"flip:7", {0x01, 0x02, 0x83, 0x04}},
      {"drop", {0x01, 0x02, 0x04}},
      {"double", {0x01, 0x02, 0x03, 0x03, 0x04}},
      {"insert:00-00-96", {0x01, 0x02, 0x03, 0x00, 0x00, 0x96, 0x04}},
  };
  for (const auto& c : cases) {
    VirtualLine line(cable(false), {fault_at(Direction::to_device, 2, c.kind)});
    EXPECT_EQ(deliver(line, sent).bytes, c.arrived) << c.kind;
  }
}

TEST(LineFaults, APauseHoldsUpTheByteAndEveryByteBehindIt) {
  VirtualLine line(cable(false), {fault_at(Direction::to_device, 1, "pause:100")});
  const Delivery delivery = deliver(line, {7, 8, 9});
  EXPECT_EQ(delivery.bytes, (Bytes{7, 8, 9}));
  EXPECT_EQ(delivery.at_us, (std::vector<std::int64_t>{520, 101'040, 101'560}));
}

TEST(LineFaults, TheEchoCountsAmongTheBytesToTheHost) {
  // The host's third byte comes back as the third byte to the host.
  VirtualLine line(cable(true), {fault_at(Direction::to_host, 2, "drop")});
  Bytes echoed;
  line.run(
      [&] {
        for (std::uint8_t byte : {0x10, 0x20, 0x30, 0x40}) line.host_write(byte);
        while (std::optional<std::uint8_t> byte = line.host_read(100'000)) echoed.push_back(*byte);
      },
      [&] {
        for (;;) line.read_byte(-1);
      });
  EXPECT_EQ(echoed, (Bytes{0x10, 0x20, 0x40}));
  EXPECT_EQ(line.bytes_sent(Direction::to_host), 4);
}

TEST(CaseLines, AreReadBackAsTheyWereWrittenAndNothingElseIsTaken) {
  for (const char* text : {"send cable-echo 253", "fetch-v relay 600 to-host 1203 flip:6",
                           "package relay-echo 0 to-device 7 insert:00-00-96 + to-host 40 pause:12000",
                           "reset cable 0 to-device 0 double", "list cable 1 to-host 9 drop"}) {
    const std::optional<sim::Case> c = sim::parse_case(text);
    ASSERT_TRUE(c.has_value()) << text;
    EXPECT_EQ(sim::describe_case(*c), text);
  }
  for (const char* text : {"", "send", "send cable-echo", "copy cable 1", "send modem 1", "send cable -1",
                           "send cable 1 to-host 9", "send cable 1 to-host x drop", "send cable 1 sideways 9 drop",
                           "send cable 1 to-host 9 flip:8", "send cable 1 to-host 9 insert:",
                           "send cable 1 to-host 9 insert:00-00-00-00-00-00-00-00-00", "send cable 1 to-host 9 drop +",
                           "send cable 1 to-host 9 pause:0"}) {
    EXPECT_FALSE(sim::parse_case(text).has_value()) << text;
  }
}

TEST(Judge, EveryConversationOnEveryLineEndsWholeOnACleanLine) {
  for (const sim::Setting& setting : sim::clean_settings({}, {})) {
    EXPECT_EQ(setting.clean.verdict, sim::Verdict::whole)
        << sim::describe_case(sim::make_case(setting.conversation, setting.line, setting.size)) << ": "
        << setting.clean.why;
    EXPECT_GT(setting.bytes[0], 0);
    EXPECT_GT(setting.bytes[1], 0);
  }
}

TEST(Judge, AFileStoredWrongBehindTheHostsBackIsSilentAndTheReadBackMakesItLoud) {
  sim::Case c = sim::make_case(sim::Conversation::send, sim::LineKind::cable_echo, 600);
  c.device_faults.lose_data = 2;  // acknowledged, never stored
  const sim::Outcome unverified = sim::run_case(c);
  EXPECT_EQ(unverified.verdict, sim::Verdict::silent);
  EXPECT_NE(unverified.why.find("holds 347 bytes, not the 600 sent"), std::string::npos) << unverified.why;

  c.conversation = sim::Conversation::send_verified;
  const sim::Outcome verified = sim::run_case(c);
  EXPECT_EQ(verified.verdict, sim::Verdict::loud) << verified.why;
  EXPECT_EQ(verified.exit_code, 2);
}

TEST(Judge, ARefusingDeviceIsLoudAndASilentOneEndsWithTimeOutOnEveryLine) {
  sim::Case refused = sim::make_case(sim::Conversation::fetch, sim::LineKind::cable, 1);
  refused.device_faults.refuse = true;
  EXPECT_EQ(sim::run_case(refused).verdict, sim::Verdict::loud);

  sim::Case silent = sim::make_case(sim::Conversation::reset, sim::LineKind::cable, 0);
  silent.device_faults.silent_after = 0;
  const sim::Outcome on_cable = sim::run_case(silent);
  EXPECT_EQ(on_cable.verdict, sim::Verdict::loud);
  EXPECT_EQ(on_cable.exit_code, 1);  // "TimeOut"

  // The relay retries silence for as long as a cable waits for a byte,
  // then ends the same way.
  silent.line = sim::LineKind::relay;
  const auto began = std::chrono::steady_clock::now();
  const sim::Outcome on_relay = sim::run_case(silent);
  EXPECT_EQ(on_relay.verdict, sim::Verdict::loud);
  EXPECT_EQ(on_relay.exit_code, 1);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
}

// The host's ENQ reaches the device as EOT and comes back so in the echo;
// the device, which wanted ENQ, says nothing, and the host took the echoed
// EOT for the device's "no data". With its ACK damaged too, an empty log
// was saved as whole.
TEST(Judge, AnEmptyFetchAfterADoubtIsAskedForAgainNotSavedAsWhole) {
  const std::optional<sim::Case> c =
      sim::parse_case("log-fetch cable-echo 254 to-device 41 flip:4 + to-device 40 flip:0");
  ASSERT_TRUE(c.has_value());
  const sim::Outcome outcome = sim::run_case(*c);
  EXPECT_NE(outcome.verdict, sim::Verdict::silent) << outcome.why;
  EXPECT_NE(outcome.verdict, sim::Verdict::hang) << outcome.why;

  // An empty device file on a clean line is read once and saved empty; so
  // is one whose EOT came clean and only our ACK to it was damaged: asked
  // again, the device still waiting for that ACK would end the run loud.
  const sim::Outcome empty = sim::run_case(sim::make_case(sim::Conversation::fetch, sim::LineKind::cable_echo, 0));
  EXPECT_EQ(empty.verdict, sim::Verdict::whole) << empty.why;
  const std::optional<sim::Case> ack_damaged = sim::parse_case("fetch cable-echo 0 to-device 41 flip:4");
  ASSERT_TRUE(ack_damaged.has_value());
  const sim::Outcome after_eot = sim::run_case(*ack_damaged);
  EXPECT_EQ(after_eot.verdict, sim::Verdict::whole) << after_eot.why;
}

TEST(Sweep, SingleFaultCasesCoverEveryByteBothWaysWithEveryFault) {
  sim::Setting setting{sim::Conversation::reset, sim::LineKind::cable, 0, {3, 2}, sim::Outcome{}};
  const long kinds = static_cast<long>(sim::faults_at_each_byte().size());
  ASSERT_EQ(sim::single_fault_count(setting), 5 * kinds);
  std::set<std::string> seen;
  for (long index = 0; index < sim::single_fault_count(setting); ++index) {
    const sim::Case c = sim::single_fault_case(setting, index);
    ASSERT_EQ(c.faults.size(), 1u);
    seen.insert(sim::describe_fault(c.faults[0]));
  }
  EXPECT_EQ(static_cast<long>(seen.size()), 5 * kinds);  // no two alike
  EXPECT_TRUE(seen.count("to-device 2 flip:0"));
  EXPECT_TRUE(seen.count("to-host 1 pause:12000"));
  EXPECT_FALSE(seen.count("to-host 2 drop"));
}

}  // namespace

namespace {

TEST(EmulatedDevice, StaysInStepWithAHostWhoseTransmissionItNeverSawWhole) {
  // Data Packet 2's start byte is damaged, so the device reads its bytes as
  // strays and then takes them and the repeat into one long unit, while a
  // stray NAK has the host send the Packet again: from then on the host is
  // one number ahead of what the device counted.
  const std::optional<sim::Case> c = sim::parse_case("send cable 254 to-device 34 flip:0 + to-host 14 insert:15");
  ASSERT_TRUE(c.has_value());
  const sim::Outcome outcome = sim::run_case(*c, true);
  EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << outcome.why << "\n" << outcome.device_trace;
  EXPECT_NE(outcome.device_trace.find("= Packet 4 after 1 transmission not seen whole"), std::string::npos)
      << outcome.device_trace;
  EXPECT_EQ(outcome.device_trace.find("number 5, expected 4"), std::string::npos) << outcome.device_trace;
}

}  // namespace
