// Echo damage on an echoing cable, over whole write conversations: damage
// the device refuses wherever it struck leaves no doubt behind its answer,
// and the write needs no read-back; damage that could have passed its sum
// does, and the read-back finds what the device stored.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "sim/conversations.h"
#include "sim/recorded_case.h"

namespace {

// A read-back begins with the read request "CFV".
bool read_back(const sim::Outcome& outcome) {
  return outcome.device_trace.find("\"CFV\"") != std::string::npos;
}

// Bytes 568 and 570 to the device are payload bytes 0xC7 and 0xE6 of the
// third data Packet, bit 0 set in one and clear in the other; their echo is
// bytes 585 and 587 to the host.
TEST(WeighedEcho, DamageTheDeviceWouldRefuseNeedsNoReadBack) {
  const sim::Outcome clean = run_recorded("send cable-echo 1012");
  for (const char* faults : {
           "to-host 600 double",                          // a byte doubled on the way back
           "to-host 600 insert:41-42-43",                 // garbage on the way back
           "to-host 585 flip:0 + to-host 587 flip:1",      // two echo bytes, the sum not kept
           "to-device 568 flip:0 + to-host 587 flip:1",    // the device had one damaged byte
           "to-device 568 flip:1 + to-device 570 flip:0",  // it had two, that do not cancel
           "to-host 600 double + to-host 590 flip:1",      // a byte doubled and one changed
           "to-host 600 insert:41-42-43 + to-device 575 flip:2",  // garbage back, a change there
           "to-host 600 insert:41-15-06",  // garbage holding a NAK and an ACK, far from the end
           "to-host 600 insert:15",        // a lone NAK there
           "to-host 591 flip:2 + to-host 620 flip:5",  // two echo bytes, one now a bit off NAK
       }) {
    const sim::Outcome outcome = run_recorded(std::string("send cable-echo 1012 ") + faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << faults << ": " << outcome.why;
    EXPECT_FALSE(read_back(outcome)) << faults << "\n" << outcome.host_errors;
    EXPECT_LT(outcome.virtual_us, clean.virtual_us + 300'000) << faults;
  }
}

TEST(WeighedEcho, DamageThatCouldHavePassedTheSumIsReadBack) {
  // Two flips that cancel in the sum: on the way there, the device took the
  // Packet damaged; on the way back, or one each way, it did not. The echo
  // cannot tell.
  for (const char* faults : {"to-device 568 flip:0 + to-device 570 flip:0", "to-host 585 flip:0 + to-host 587 flip:0",
                             "to-device 568 flip:0 + to-host 587 flip:0"}) {
    const sim::Outcome outcome = run_recorded(std::string("send cable-echo 1012 ") + faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << faults << ": " << outcome.why;
    EXPECT_TRUE(read_back(outcome)) << faults << "\n" << outcome.host_errors;
  }
  // Bytes among the echo that may be the device's answer are not taken for
  // added ones where its answer may have come while our last bytes were
  // still coming back: near the Packet's end (bytes added on the way there
  // ended it early), behind a header byte (a length read from the bytes
  // added), or anywhere once our bytes were held up past the device's
  // patience (it refused the Packet in mid-unit). The echo of the third
  // data Packet is bytes 577 to 839 to the host.
  for (const char* faults : {"to-host 826 insert:41-15-06", "to-host 579 insert:41-15-06", "to-device 555 pause:12000"}) {
    const sim::Outcome outcome = run_recorded(std::string("send cable-echo 1012 ") + faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << faults << ": " << outcome.why;
    EXPECT_TRUE(read_back(outcome)) << faults << "\n" << outcome.host_errors;
  }
  // Garbage behind the first byte of the length gives the device a length
  // of 0: it refuses the Packet eight bytes in, and that NAK, far from our
  // end, is its answer, to be heard as one.
  const sim::Outcome short_length = run_recorded("send cable-echo 1012 to-device 563 insert:00-00-96-82");
  EXPECT_EQ(short_length.verdict, sim::Verdict::whole) << short_length.why << "\n" << short_length.host_errors;
  // Held up for 12 s at the first data Packet's 69th byte, our bytes reach
  // the device in two parts, and it refuses each once its patience runs
  // out: the first refusal comes among the echo. Each moves the device's
  // count of our Packets on, and the host must hear both.
  const sim::Outcome held_up = run_recorded("log-send cable-echo 600 to-device 104 pause:12000");
  EXPECT_EQ(held_up.verdict, sim::Verdict::whole) << held_up.why << "\n" << held_up.host_errors;
}

// Bytes added on the way there make the device take its Packet's length
// before ours ends: it refuses that Packet while the echo of our last
// bytes is still coming back, and gets those bytes alone behind its NAK.
// In a 600-byte send the second data Packet ends in CF 18 F9 7E C2 D8 6A 81,
// with a CAN (0x18) seven bytes from its end.
TEST(WeighedEcho, APacketTheDeviceEndedEarlyIsSentAgainWithoutReadBack) {
  const sim::Outcome clean = run_recorded("send cable-echo 1012");
  for (const char* faults : {
           "1012 to-device 600 double",                         // our last byte came behind the NAK
           "1012 to-device 600 insert:41-42-43",                // our last three
           "1012 to-device 700 double + to-host 650 flip:1",    // and an echo byte changed before
           "1012 to-device 600 double + to-device 800 flip:1",  // and one more byte damaged there
           "600 to-device 400 insert:A1-A2-A3-A9-AA-AB",        // six bytes, no control byte among them
       }) {
    const sim::Outcome outcome = run_recorded(std::string("send cable-echo ") + faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << faults << ": " << outcome.why;
    EXPECT_FALSE(read_back(outcome)) << faults << "\n" << outcome.host_errors;
    EXPECT_LT(outcome.virtual_us, clean.virtual_us + 300'000) << faults;
  }
  // A control byte among the bytes the device got alone: what it made of
  // it is not known (a stray EOT ends the file), and the write is read back.
  // So is an early NAK that came back damaged.
  for (const char* faults :
       {"600 to-device 400 insert:A1-A2-A3-A9-AA-AB-AC", "1012 to-device 600 double + to-host 840 flip:0"}) {
    const sim::Outcome outcome = run_recorded(std::string("send cable-echo ") + faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << faults << ": " << outcome.why;
    EXPECT_TRUE(read_back(outcome)) << faults << "\n" << outcome.host_errors;
  }
}

}  // namespace
