// What the host does after damage it can tell from the line: each case here
// ended loud once, though the line told the host enough to go on.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "sim/conversations.h"
#include "sim/recorded_case.h"

namespace {

// How many times the line carries the host's unit (in its line trace form,
// "H> 05" and the like) as a unit of its own.
int times_sent(const std::string& line_trace, const std::string& unit) {
  int count = 0;
  for (std::size_t at = line_trace.find(unit); at != std::string::npos; at = line_trace.find(unit, at + 1)) {
    const std::size_t end = at + unit.size();
    if (end == line_trace.size() || line_trace[end] == '\n' || line_trace[end] == '[') ++count;
  }
  return count;
}

// The host's control byte reaches the device as another byte and comes back
// so in the echo, or it is lost and no echo comes back at all; the device,
// still waiting for it, stays silent. The host sends it again rather than
// wait for "TimeOut": after a turnaround, or after the echo's 3 s.
TEST(Recovery, AControlByteTheLineDamagedOrLostOnItsWayGoesAgain) {
  struct Damage {
    const char* faults;
    const char* unit;  // the control byte, as the line trace shows it
    std::int64_t extra_us;  // what it may cost beyond the clean run
  };
  const Damage damages[] = {
      {"to-device 10 flip:2", "H> 04", 1'000'000},  // the command's EOT, as 00
      {"to-device 11 flip:4", "H> 05", 1'000'000},  // the ENQ for the reply, as NAK
      {"to-device 12 flip:2", "H> 06", 1'000'000},  // the ACK to the reply, as 02
      {"to-device 10 drop", "H> 04", 4'000'000},
      {"to-device 11 drop", "H> 05", 4'000'000},
      {"to-device 12 drop", "H> 06", 4'000'000},
  };
  for (const Damage& damage : damages) {
    const sim::Outcome clean = run_recorded("fetch cable-echo 1");
    const sim::Outcome outcome = run_recorded(std::string("fetch cable-echo 1 ") + damage.faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << damage.faults << ": " << outcome.why << outcome.line_trace;
    EXPECT_EQ(times_sent(outcome.line_trace, damage.unit), times_sent(clean.line_trace, damage.unit) + 1)
        << damage.faults << "\n" << outcome.line_trace;
    // Not the ten seconds of a byte that never comes.
    EXPECT_LT(outcome.virtual_us, clean.virtual_us + damage.extra_us) << damage.faults;
  }
}

// A control byte goes again only when the echo shows the device missed it.
// An echo damaged on its way back, with the device's answer behind it, is
// of a byte the device heard: sent again, the device would take it for the
// next one. A cable without echo shows nothing: a lost byte ends the run.
TEST(Recovery, AControlByteGoesAgainOnlyWhenTheEchoShowsTheDeviceMissedIt) {
  const sim::Outcome clean = run_recorded("fetch cable-echo 1");
  // The echo of the ACK to the reply, byte 24 to the host, comes back as 02,
  // the device's EOT right behind it.
  const sim::Outcome heard = run_recorded("fetch cable-echo 1 to-host 24 flip:2");
  EXPECT_EQ(heard.verdict, sim::Verdict::whole) << heard.why;
  EXPECT_EQ(times_sent(heard.line_trace, "H> 06"), times_sent(clean.line_trace, "H> 06")) << heard.line_trace;

  const sim::Outcome no_echo = run_recorded("fetch cable 1 to-device 12 drop");
  EXPECT_EQ(no_echo.verdict, sim::Verdict::loud) << no_echo.why;
  EXPECT_EQ(no_echo.exit_code, 1);  // "TimeOut"
  EXPECT_EQ(times_sent(no_echo.line_trace, "H> 06"), 1) << no_echo.line_trace;
}

// A Packet of the read-back altered behind a sound sum (one bit flipped one
// way in one byte and back in another) made a whole write look stored
// wrong; a second read-back shows the write whole.
TEST(Recovery, AReadBackAlteredBehindASoundSumIsReadBackAgain) {
  const sim::Outcome outcome = run_recorded("send-v cable 253 to-host 109 flip:7 + to-host 181 flip:7");
  EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << outcome.why;
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_NE(outcome.host_errors.find("UP.BIN: the read-back differs from what was sent: reading it back again"),
            std::string::npos)
      << outcome.host_errors;
}

// On a line damaging one byte in a thousand, three reads of a 20 KB file
// each came with a Packet altered behind a sound sum, each in another
// place; at each byte two of them agree, and that is the device's file.
TEST(Recovery, ThreeReadsAlteredInDifferentPlacesAreSavedAsTwoAgree) {
  const sim::Outcome outcome = run_recorded("fetch cable-echo 20480 noise:12:0.001");
  EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << outcome.why;
  EXPECT_NE(outcome.host_errors.find("DOWN.BIN: read three times; saved as two of the reads agree at each byte"),
            std::string::npos)
      << outcome.host_errors;
}

}  // namespace

// After a Packet whose SOH the line damaged, the device passes over our
// bytes to the next 0x04 (here the number of Packet 4), takes it for the
// train's EOT and waits for ENQ, deaf to our Packets. Met by its silence,
// the host asks with ENQ, takes the device's reply, finds the file short in
// the read-back and sends it again.
TEST(Recovery, AWriteTrainTheDeviceEndedOnOneOfOurBytesIsSentAgain) {
  const char* const cut_trains[] = {
      "send cable-echo 1012 to-device 560 flip:0",
      "send cable 1012 to-device 560 flip:1",
      "send-v cable-echo 1012 to-device 560 flip:0",
  };
  for (const char* faults : cut_trains) {
    const sim::Outcome outcome = run_recorded(faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << faults << ": " << outcome.why;
    EXPECT_EQ(outcome.exit_code, 0) << faults;
    EXPECT_NE(outcome.host_errors.find("UP.BIN: sending it again"), std::string::npos)
        << faults << "\n" << outcome.host_errors;
    EXPECT_NE(outcome.device_trace.find("expected ENQ after the write train's EOT"), std::string::npos)
        << faults << ": the device did not end the train early; the case no longer tests the recovery";
  }
}

// A device silent after a data Packet for another reason, its answer lost
// on the way, passes over the ENQ: still in the train, it waits for the
// next Packet, which the host then sends, taking the lost answer for an
// ACK. A lost NAK shows in the read-back, and the file goes again. Two
// answers lost in a row are a device gone, and the lost answer to the
// write request (a NAK there would make the data the request) still ends
// the run in "TimeOut".
TEST(Recovery, AWriteTrainWhoseAnswerWasLostGoesOn) {
  struct Loss {
    const char* faults;
    const char* ending;  // what the host says at the end
  };
  const Loss losses[] = {
      {"send cable 1012 to-host 15 drop", "UP.BIN: the line was not clean during the write; read back, the file is whole"},
      {"send cable-echo 1012 to-host 576 drop", "UP.BIN: the line was not clean during the write; read back, the file is whole"},
      {"send cable 1012 to-device 100 flip:0 + to-host 15 drop", "UP.BIN: sending it again"},
  };
  for (const Loss& loss : losses) {
    const sim::Outcome outcome = run_recorded(loss.faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << loss.faults << ": " << outcome.why;
    EXPECT_EQ(outcome.exit_code, 0) << loss.faults << "\n" << outcome.host_errors;
    EXPECT_NE(outcome.host_errors.find(loss.ending), std::string::npos) << loss.faults << "\n" << outcome.host_errors;
    EXPECT_NE(outcome.device_trace.find("expected data Packet, got ENQ"), std::string::npos)
        << loss.faults << ": the device did not hear the ENQ in its train; the case no longer tests the recovery";
    // One wait for the reply the ENQ asks for, behind the silence: no more.
    EXPECT_LT(outcome.virtual_us, 25'000'000) << loss.faults;
  }
  for (const char* faults : {"send cable 1012 to-host 15 drop + to-host 16 drop", "send cable 1012 to-host 14 drop"}) {
    const sim::Outcome outcome = run_recorded(faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::loud) << faults << ": " << outcome.why;
    EXPECT_EQ(outcome.exit_code, 1) << faults;
    EXPECT_NE(outcome.host_errors.find("TimeOut"), std::string::npos) << faults << "\n" << outcome.host_errors;
  }
}

// The device sends a one-byte unit once and then waits for the host: its
// ACK to the write train's EOT, its EOT after a reply, its ENQ after one.
// Damaged on the way (one bit flipped, nothing behind it), each still is
// that byte; the host once waited for another and ended in "TimeOut".
TEST(Recovery, ALoneControlByteOfTheDeviceDamagedOnOneBitIsTakenForWhatItWas) {
  struct Damage {
    const char* faults;
    const char* what;
  };
  const Damage damages[] = {
      {"send cable-echo 1012 to-host 27 flip:3", "the ENQ after the consent, as 0D"},
      {"fetch cable-echo 1012 to-host 27 flip:3", "the ENQ after the consent, as 0D"},
      {"send cable-echo 1012 to-host 1117 flip:5", "the ACK to the write train's EOT, as 26"},
      {"send cable-echo 1012 to-host 1130 flip:3", "the EOT after the reply AEX, as 0C"},
      {"send cable-echo 1012 to-host 1132 flip:3", "the closing ENQ, as 0D"},
  };
  for (const Damage& damage : damages) {
    const sim::Outcome outcome = run_recorded(damage.faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << damage.faults << " (" << damage.what << "): " << outcome.why;
    EXPECT_EQ(outcome.exit_code, 0) << damage.faults << "\n" << outcome.host_errors;
    EXPECT_LT(outcome.virtual_us, 5'000'000) << damage.faults << ": waited for a byte that had come";
  }
  // A write whose answer to the EOT was damaged is not proven by its
  // handshake: it is read back.
  const sim::Outcome eot_answer = run_recorded("send cable-echo 1012 to-host 1117 flip:5");
  EXPECT_NE(eot_answer.host_errors.find("the line was not clean during the write; read back, the file is whole"),
            std::string::npos)
      << eot_answer.host_errors;
}

// A byte that is not one bit from the awaited one, or one our own damaged
// echo explains, is no such byte: the host does not go on as if it were.
TEST(Recovery, AStrayByteIsNotTakenForTheDevicesControlByte) {
  // The ENQ after the consent as 35 (two bits off): the host waits on and
  // ends in "TimeOut", rather than send the write request to a device that
  // may not be ready.
  const sim::Outcome two_bits = run_recorded("send cable-echo 1012 to-host 27 flip:4 + to-host 27 flip:5");
  EXPECT_EQ(two_bits.verdict, sim::Verdict::loud) << two_bits.why;
  EXPECT_EQ(two_bits.exit_code, 1) << two_bits.host_errors;
  // Our ACK to the consent's EOT reaches the device as 04 and comes back so:
  // the device, still waiting for the ACK, is silent. That 04 is one bit
  // from the ENQ awaited next, but it is our own byte: the ACK goes again.
  const sim::Outcome own_echo = run_recorded("send cable-echo 1012 to-device 13 flip:1");
  EXPECT_EQ(own_echo.verdict, sim::Verdict::whole) << own_echo.why;
  EXPECT_EQ(times_sent(own_echo.line_trace, "H> 06"), times_sent(run_recorded("send cable-echo 1012").line_trace, "H> 06") + 1)
      << own_echo.line_trace;
}

// The host's ACK to a data Packet doubled on the line: the device takes the
// second copy for the answer to the next Packet and runs one Packet ahead.
// When the host then refuses a damaged Packet, the device takes the NAK for
// the one after and never sends the damaged one again. The rest of the
// train is answered to its end and the file read again from the start.
TEST(Recovery, ATrainThatLostAPacketIsReadAgainFromTheStart) {
  const char* const broken_trains[] = {
      "fetch cable-echo 1012 to-device 41 double + to-host 700 flip:3",
      "fetch cable-echo 1012 to-device 41 double + to-host 800 flip:3",
  };
  for (const char* faults : broken_trains) {
    const sim::Outcome outcome = run_recorded(faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << faults << ": " << outcome.why;
    EXPECT_EQ(outcome.exit_code, 0) << faults;
    EXPECT_NE(outcome.host_errors.find("a data Packet out of sequence: the data did not come whole\n"),
              std::string::npos)
        << faults << ": the train did not break; the case no longer tests the recovery\n"
        << outcome.host_errors;
    EXPECT_NE(outcome.host_errors.find("DOWN.BIN: reading it again from the start"), std::string::npos)
        << faults << "\n" << outcome.host_errors;
  }
}

// Bytes added to our Packet on its way make the device end it early and
// answer NAK while the echo of our last bytes is still coming back. The
// read request for DOWN.BIN ends in 0x06: that byte, echoed behind the NAK,
// was once taken for the device's ACK, and the device, which had refused
// the request, never answered the EOT that followed ("TimeOut").
TEST(Recovery, OurLastByteEchoedBehindTheDevicesNakIsNoAck) {
  for (const char* faults : {"fetch cable-echo 253 to-device 33 insert:6F-30", "fetch cable-echo 253 to-device 20 insert:6F"}) {
    const sim::Outcome outcome = run_recorded(faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << faults << ": " << outcome.why;
    EXPECT_NE(outcome.device_trace.find("D 15 | NAK"), std::string::npos)
        << faults << ": the device did not refuse the request; the case no longer tests this\n"
        << outcome.device_trace;
  }
}

// A byte added inside the read request's header makes the device read a
// length from the wrong place and wait for bytes that never come; our last
// byte, 0x06, is echoed late where its answer was due. The host awaits the
// device's answer behind it (the device's NAK after its 3 s), where it once
// took that byte for an ACK and ended in "TimeOut". Added on the way back
// instead, the same shift leaves the device's real ACK behind our byte,
// and that costs the same wait, not the run.
TEST(Recovery, OurLastByteEchoedLateWhereTheAnswerWasDueIsNoAck) {
  const sim::Outcome misled = run_recorded("fetch cable-echo 253 to-device 15 insert:04");
  EXPECT_EQ(misled.verdict, sim::Verdict::whole) << misled.why;
  EXPECT_NE(misled.device_trace.find("truncated packet"), std::string::npos)
      << "the device was not misled; the case no longer tests this\n"
      << misled.device_trace;
  const sim::Outcome shifted_echo = run_recorded("fetch cable-echo 253 to-host 40 insert:6F");
  EXPECT_EQ(shifted_echo.verdict, sim::Verdict::whole) << shifted_echo.why;
  for (const sim::Outcome* outcome : {&misled, &shifted_echo}) {
    EXPECT_LT(outcome->virtual_us, 5'000'000) << outcome->line_trace;
  }
}

// The write train's EOT: lost on its way, damaged into an ACK (which the
// echo then brings back as if the device had answered), or heard and its
// ACK lost. The device that did not hear it passes over the ENQ that asks
// for its reply, and gets the EOT again; the one that did answers the ENQ.
// Each once waited out the line's time-out and ended in "TimeOut".
TEST(Recovery, AnEotOrItsAckLostIsToldApartByTheEnqAfterIt) {
  struct Damage {
    const char* faults;
    bool enq_passed_over;  // the device did not hear the EOT
  };
  const Damage damages[] = {
      {"send cable-echo 1012 to-device 1096 flip:1", true},
      {"send cable 1012 to-device 1096 flip:1", true},
      {"send cable 1012 to-device 1096 drop", true},
      {"send cable 1012 to-host 20 drop", false},
  };
  for (const Damage& damage : damages) {
    const sim::Outcome outcome = run_recorded(damage.faults);
    EXPECT_EQ(outcome.verdict, sim::Verdict::whole) << damage.faults << ": " << outcome.why;
    EXPECT_EQ(outcome.exit_code, 0) << damage.faults << "\n" << outcome.host_errors;
    EXPECT_NE(outcome.host_errors.find("read back, the file is whole"), std::string::npos)
        << damage.faults << "\n" << outcome.host_errors;
    EXPECT_EQ(outcome.device_trace.find("expected data Packet, got ENQ") != std::string::npos,
              damage.enq_passed_over)
        << damage.faults;
    EXPECT_LT(outcome.virtual_us, 25'000'000) << damage.faults;
  }
}
