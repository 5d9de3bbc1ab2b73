// A write over a cable without echo: the device's refusals are all the host
// learns of the damage on the way, and a line that damages Packets that
// often also flips two bits alike in one now and then, which passes the
// device's sum. Such a write is read back before it counts as done.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "sim/conversations.h"

namespace {

sim::Outcome run_recorded(const std::string& text) {
  const std::optional<sim::Case> c = sim::parse_case(text);
  EXPECT_TRUE(c.has_value()) << text;
  return c ? sim::run_case(*c, true) : sim::Outcome{};
}

bool read_back(const sim::Outcome& outcome) {
  return outcome.host_errors.find("the line was not clean during the write; read back, the file is whole") !=
         std::string::npos;
}

// Two Packets refused, each for one flipped bit: the device's file is whole,
// and the read-back shows it. One refusal alone says little of the line, and
// an echo shows what reached the device: neither is read back.
TEST(WriteRefusals, TwoRefusedPacketsWithoutEchoAreReadBack) {
  const char* const twice = " 600 to-device 100 flip:1 + to-device 400 flip:1";
  for (const char* conversation : {"send cable", "log-send cable", "program cable"}) {
    const sim::Outcome outcome = run_recorded(std::string(conversation) + twice);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << conversation << ": " << outcome.why;
    EXPECT_EQ(outcome.exit_code, 0) << conversation;
    EXPECT_TRUE(read_back(outcome)) << conversation << ":\n" << outcome.host_errors;
  }
  const sim::Outcome once = run_recorded("send cable 600 to-device 100 flip:1");
  EXPECT_EQ(once.verdict, sim::Verdict::whole) << once.why;
  EXPECT_FALSE(read_back(once)) << once.host_errors;
  const sim::Outcome echoed = run_recorded("send cable-echo 600 to-device 100 flip:1 + to-device 400 flip:1");
  EXPECT_EQ(echoed.verdict, sim::Verdict::whole) << echoed.why;
  EXPECT_FALSE(read_back(echoed)) << echoed.host_errors;
}

// Noisy runs that once ended with exit 0 and a device file other than the
// one sent: a Packet whose two flipped bits cancel in its sum among dozens
// the device refused.
TEST(WriteRefusals, ANoisyLineWithoutEchoNoLongerLeavesAWrongFileUnseen) {
  for (const char* noisy : {"send cable 20000 noise:21:0.001", "log-send cable 20000 noise:10:0.001",
                            "program cable 66000 noise:277:0.0005"}) {
    const sim::Outcome outcome = run_recorded(noisy);
    EXPECT_NE(outcome.verdict, sim::Verdict::silent) << noisy << ": " << outcome.why;
    EXPECT_NE(outcome.verdict, sim::Verdict::hang) << noisy << ": " << outcome.why;
  }
}

}  // namespace
