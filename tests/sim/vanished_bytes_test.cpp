// Bytes of a write Packet lost on their way to the device, over whole
// conversations on an echoing cable: filler bytes end the Packet, the
// device refuses it at once, and it goes again.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "sim/conversations.h"
#include "sim/recorded_case.h"

namespace {

TEST(VanishedBytes, APacketThatLostABytePaysATurnaroundNotTheDevicesPatience) {
  const sim::Outcome clean = run_recorded("send cable-echo 1012");
  // A data byte of the third data Packet, and the last byte of the second.
  for (const char* faults : {"to-device 600 drop", "to-device 559 drop"}) {
    const sim::Outcome outcome = run_recorded(std::string("send cable-echo 1012 ") + faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << faults << ": " << outcome.why;
    EXPECT_NE(outcome.line_trace.find("H> FF\n"), std::string::npos) << faults << "\n" << outcome.line_trace;
    EXPECT_LT(outcome.virtual_us, clean.virtual_us + 1'000'000) << faults;
    // The device refused the Packet it could not check: nothing to read back
    // (a read-back begins with the read request "CFV").
    EXPECT_EQ(outcome.device_trace.find("\"CFV\""), std::string::npos) << faults << "\n" << outcome.host_errors;
  }
}

}  // namespace
