// Each frame fault of the emulated relay adapter alone, on a send and on a
// fetch: the frame is refused or announced again, the PC-link conversation
// stays as on the cable, and the file arrives byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/e2e.h"
#include "support/file_session.h"
#include "support/relay_session.h"

namespace {

using namespace relay_e2e;

int count_blocks(const std::string& trace, char side, const std::string& bytes) {
  int count = 0;
  for (const Block& block : relay_blocks(trace)) count += block.side == side && block.bytes == bytes;
  return count;
}

// A fault the emulated adapter injects into the frames, and what the host
// is to make of it.
struct FrameFault {
  std::vector<std::string> option;
  std::string message;  // printed by the host, or empty
  // The host's frame went out whole and its ACK block never came: the device
  // may have taken it, so a send is read back after its conversation.
  bool send_read_back = false;
};

// Each fault hits the N-th frame of its direction: the device's frames carry
// the fetched data, the host's frames the sent data.
const std::vector<FrameFault> device_frame_faults = {
    {{"--relay-bad-checksum", "9"}, "opt check sum error\n"},
    {{"--relay-wrong-kind", "9"}, "Packet format error\n"},
    {{"--relay-wrong-number", "9"}, "packet number error\n"},
    {{"--relay-short-sync"}, ""},
};
const std::vector<FrameFault> host_frame_faults = {
    {{"--relay-lose-syn", "8"}, ""},
    {{"--relay-lose-ack", "8"}, "UP.BIN: the line was not clean during the write; read back, the file is whole\n", true},
};

TEST(RelayFaults, EveryFileArrivesWholeWhateverHappensToTheFrames) {
  const std::string file = file_of(2000);
  std::vector<FrameFault> faults = device_frame_faults;
  faults.insert(faults.end(), host_frame_faults.begin(), host_frame_faults.end());
  FileSession send_by_cable = run_over(cable, "qvcopy", {"up.bin", "UP.BIN"}, {}, {{"up.bin", file}});
  FileSession fetch_by_cable = run_over(cable, "qvcopy", {"-g", "DOWN.BIN", "down.bin"}, {{"DOWN.BIN", file}});
  for (const Link* link : {&relay_echoing, &relay_quiet}) {
    for (const FrameFault& fault : faults) {
      SCOPED_TRACE(fault.option[0] + " over the " + link->name);
      FileSession up = run_over(*link, "qvcopy", {"up.bin", "UP.BIN"}, {}, {{"up.bin", file}}, fault.option);
      FileSession down = run_over(*link, "qvcopy", {"-g", "DOWN.BIN", "down.bin"}, {{"DOWN.BIN", file}}, {}, fault.option);
      EXPECT_EQ(up.run.exit_code, 0) << up.run.err;
      EXPECT_EQ(down.run.exit_code, 0) << down.run.err;
      EXPECT_TRUE(read_file(up.storage + "/UP.BIN") == file);
      EXPECT_TRUE(read_file(down.host + "/down.bin") == file);
      // The PC-link conversation is untouched: only frames were repeated.
      const std::string cable_send = host_bytes(send_by_cable.trace);
      const std::string relay_send = host_bytes(up.trace);
      EXPECT_EQ(to_hex(fault.send_read_back ? relay_send.substr(0, cable_send.size()) : relay_send),
                to_hex(cable_send));
      EXPECT_EQ(relay_send.size() > cable_send.size(), fault.send_read_back);
      EXPECT_EQ(to_hex(device_bytes(down.trace)), to_hex(device_bytes(fetch_by_cable.trace)));
      expect_clean_line(up);
      expect_clean_line(down);
      std::vector<std::string> events = trace_events(up.trace + down.trace);
      int fired = 0;
      for (const std::string& event : events) fired += event.rfind("fault: relay", 0) == 0;
      EXPECT_GE(fired, fault.option.size() > 1 ? 2 : 0);
      std::string messages = up.run.err + down.run.err;
      if (!fault.message.empty()) {
        EXPECT_NE(messages.find(fault.message), std::string::npos) << messages;
      }
    }
  }
}

TEST(RelayFaults, ADamagedFrameIsRefusedWithTheNakBlockAndTakenWhenSentAgain) {
  FileSession session = run_over(relay_echoing, "qvcopy", {"-g", "DOWN.BIN", "down.bin"}, {{"DOWN.BIN", file_of(600)}},
                             {}, {"--relay-bad-checksum", "8"});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(count_blocks(session.trace, 'h', nak_block), 1);
  EXPECT_NE(session.run.err.find("opt check sum error\n"), std::string::npos);
  // The NAK block answers the damaged frame, and the device's next ENQ block
  // brings the frame again.
  std::vector<Block> blocks = relay_blocks(session.trace);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (blocks[i].side == 'h' && blocks[i].bytes == nak_block) {
      ASSERT_GE(i, 1u);
      ASSERT_LT(i + 3, blocks.size());
      EXPECT_EQ(blocks[i - 1].side, 'd');
      EXPECT_EQ(blocks[i + 1].bytes, enq_block);
      EXPECT_EQ(blocks[i + 2].bytes, syn_block);
      std::string damaged = blocks[i - 1].bytes;
      std::string resent = blocks[i + 3].bytes;
      ASSERT_EQ(damaged.size(), resent.size());
      EXPECT_EQ(damaged.substr(0, damaged.size() - 2), resent.substr(0, resent.size() - 2));
    }
  }
}

TEST(RelayFaults, AFrameWhoseAckWasLostIsSentAgainWholeFromTheEnqBlock) {
  FileSession session = run_over(relay_echoing, "qvcopy", {"up.bin", "UP.BIN"}, {}, {{"up.bin", file_of(600)}},
                             {"--relay-lose-ack", "6"});
  EXPECT_EQ(session.run.exit_code, 0);
  std::vector<std::string> host_frames;
  for (const Block& block : relay_blocks(session.trace)) {
    if (block.side == 'h' && block.bytes.size() > 8) host_frames.push_back(block.bytes);
  }
  ASSERT_GE(host_frames.size(), 7u);
  EXPECT_EQ(host_frames[5], host_frames[6]);
  EXPECT_EQ(count_blocks(session.trace, 'h', enq_block), static_cast<int>(host_frames.size()));
  expect_clean_line(session);
}

TEST(RelayFaults, ControlBlocksAndFramesAfterOnlyTwoZeroBytesAreTaken) {
  FileSession session = run_over(relay_quiet, "qvdir", {}, {{"A.TXT", "a"}}, {}, {"--relay-short-sync"});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_NE(session.run.out.find("A.TXT"), std::string::npos) << session.run.out;
  EXPECT_EQ(count_blocks(session.trace, 'd', control_block('\x05')), 0);  // ours had two zero bytes only
  EXPECT_EQ(count_blocks(session.trace, 'h', nak_block), 0);
  expect_clean_line(session);
}

}  // namespace
