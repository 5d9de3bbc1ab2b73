// Two bits flipped alike in one Packet, one up and one down, pass its
// 16-bit sum; a line that damages Packets often does that now and then.
// Where the host sees such a line, what crossed it is checked once more: a
// write over a cable without echo, whose only sign of the damage is the
// device's refusals, is read back; a list whose Packets came damaged is
// read again and printed only as two reads have it.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "sim/conversations.h"
#include "sim/recorded_case.h"

namespace {

bool read_back(const sim::Outcome& outcome) {
  return outcome.host_errors.find("the line was not clean during the write; read back, the file is whole") !=
         std::string::npos;
}

// Two Packets refused, each for one flipped bit: the device's file is whole,
// and the read-back shows it. One refusal alone says little of the line, and
// an echo shows what reached the device: neither is read back.
TEST(SumCollisions, TwoRefusedPacketsWithoutEchoAreReadBack) {
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
TEST(SumCollisions, ANoisyLineWithoutEchoNoLongerLeavesAWrongFileUnseen) {
  for (const char* noisy : {"send cable 20000 noise:21:0.001", "log-send cable 20000 noise:10:0.001",
                            "program cable 66000 noise:277:0.0005"}) {
    const sim::Outcome outcome = run_recorded(noisy);
    EXPECT_NE(outcome.verdict, sim::Verdict::silent) << noisy << ": " << outcome.why;
    EXPECT_NE(outcome.verdict, sim::Verdict::hang) << noisy << ": " << outcome.why;
  }
}

bool read_again(const sim::Outcome& outcome) {
  return outcome.host_errors.find("list: the line damaged Packets on the way: reading it again to compare") !=
         std::string::npos;
}

TEST(SumCollisions, AListThatCameWithTwoDamagedPacketsIsReadAgain) {
  const sim::Outcome twice = run_recorded("list cable 600 to-host 100 flip:1 + to-host 400 flip:1");
  EXPECT_EQ(twice.verdict, sim::Verdict::whole) << twice.why;
  EXPECT_TRUE(read_again(twice)) << twice.host_errors;
  const sim::Outcome once = run_recorded("list cable 600 to-host 100 flip:1");
  EXPECT_EQ(once.verdict, sim::Verdict::whole) << once.why;
  EXPECT_FALSE(read_again(once)) << once.host_errors;
  // Once printed with a byte changed behind sound sums, exit 0; now read
  // three times, each read with a collision of its own elsewhere, and
  // printed as two reads have each byte.
  const sim::Outcome voted = run_recorded("list cable-echo 20000 noise:60:0.001");
  EXPECT_EQ(voted.verdict, sim::Verdict::whole) << voted.why;
  EXPECT_NE(voted.host_errors.find("list: read three times; saved as two of the reads agree at each byte"),
            std::string::npos)
      << voted.host_errors;
  const sim::Outcome relayed = run_recorded("list relay 66000 noise:291:0.003");
  EXPECT_NE(relayed.verdict, sim::Verdict::silent) << relayed.why;
}

}  // namespace
