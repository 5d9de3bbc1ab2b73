// The emulator's relay blocks: what it sends byte for byte, and how it finds
// the host's blocks among other bytes on the line.
#include <gtest/gtest.h>

#include <deque>

#include "qvemu/options.h"
#include "qvemu/relay_block.h"

namespace {

using qvemu::BlockKind;
using qvemu::Bytes;

// A line that runs dry: a time-out after the last byte.
qvemu::RelayBlock read_block(const Bytes& line, std::size_t* left = nullptr) {
  std::deque<std::uint8_t> pending(line.begin(), line.end());
  qvemu::RelayBlock block = qvemu::read_relay_block(
      [&pending](int) -> std::optional<std::uint8_t> {
        if (pending.empty()) return std::nullopt;
        const std::uint8_t byte = pending.front();
        pending.pop_front();
        return byte;
      },
      -1, 100);
  if (left) *left = pending.size();
  return block;
}

TEST(QvemuRelayBlocks, TheDeviceSendsExactlyTheseBytes) {
  EXPECT_EQ(qvemu::encode_relay_control(qvemu::relay_syn), (Bytes{0, 0, 0, 0, 0, 0x96, 0x82, 0x16}));
  EXPECT_EQ(qvemu::encode_relay_control(qvemu::relay_ack, 2), (Bytes{0, 0, 0x96, 0x82, 0x06}));
  EXPECT_EQ(qvemu::encode_relay_frame({0x06}),
            (Bytes{0, 0, 0, 0, 0, 0x96, 0x81, 0x10, 0xFF, 0xFF, 0x01, 0x40, 0xFE, 0x01, 0x00, 0x06, 0x06, 0x00}));
  qvemu::FrameShape odd;
  odd.kind = 0x83;
  odd.number = 1;
  odd.damaged = true;
  EXPECT_EQ(qvemu::encode_relay_frame({0xFF, 0x02}, odd),
            (Bytes{0, 0, 0, 0, 0, 0x96, 0x83, 0x10, 0x01, 0x00, 0x01, 0x40, 0xFE, 0x02, 0x00, 0xFF, 0x02, 0x02, 0x01}));
}

TEST(QvemuRelayBlocks, AFrameIsReadWithEveryField) {
  Bytes line = qvemu::encode_relay_frame(qvemu::bytes_of("CFV"));
  std::size_t left = 0;
  qvemu::RelayBlock block = read_block(line, &left);
  EXPECT_EQ(block.kind, BlockKind::frame);
  EXPECT_EQ(block.zeros, 5);
  EXPECT_EQ(block.number, 0xFFFF);
  EXPECT_EQ(block.payload, qvemu::bytes_of("CFV"));
  EXPECT_TRUE(block.checksum_ok());
  EXPECT_EQ(block.raw, line);
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(qvemu::describe_relay_block(block), "relay frame 0xFFFF, 3 bytes");
}

TEST(QvemuRelayBlocks, StrayBytesAndLoneZerosBeforeABlockAreSkippedAndKept) {
  Bytes line = {0x41, 0x00, 0x96, 0x00};
  Bytes enq = qvemu::encode_relay_control(qvemu::relay_enq, 2);
  line.insert(line.end(), enq.begin(), enq.end());
  qvemu::RelayBlock block = read_block(line);
  EXPECT_TRUE(block.is_control(qvemu::relay_enq));
  EXPECT_EQ(block.skipped, (Bytes{0x41, 0x00, 0x96}));
  // The zero before the block's own two makes a run of three.
  EXPECT_EQ(block.zeros, 3);
}

TEST(QvemuRelayBlocks, SilenceAndABlockCutShortAreTold) {
  EXPECT_EQ(read_block({}).kind, BlockKind::silence);
  Bytes frame = qvemu::encode_relay_frame({1, 2, 3});
  frame.resize(frame.size() - 1);
  qvemu::RelayBlock cut = read_block(frame);
  EXPECT_EQ(cut.kind, BlockKind::truncated);
  EXPECT_EQ(qvemu::describe_relay_block(cut), "relay block cut short");
  EXPECT_EQ(read_block({0, 0, 0x96, 0x80}).kind, BlockKind::other_kind);
  // A length past the relay buffer is not read on, whatever bytes follow.
  qvemu::RelayBlock overlong = read_block(qvemu::encode_relay_frame(Bytes(5000, 0x41)));
  EXPECT_EQ(overlong.kind, BlockKind::truncated);
  EXPECT_EQ(overlong.raw.size(), 15u);
}

TEST(QvemuRelayBlocks, RelayOptionsAreParsed) {
  qvemu::Options options;
  std::string error;
  ASSERT_TRUE(qvemu::parse_options({"--relay", "--relay-lose-ack", "3", "--relay-wrong-kind=4", "--relay-short-sync"},
                                   options, error))
      << error;
  EXPECT_TRUE(options.relay);
  EXPECT_EQ(options.relay_faults.lose_ack, 3);
  EXPECT_EQ(options.relay_faults.wrong_kind, 4);
  EXPECT_TRUE(options.relay_faults.short_sync);
  EXPECT_EQ(options.relay_faults.bad_checksum, 0);
  EXPECT_FALSE(qvemu::parse_options({"--relay-lose-syn", "x"}, options, error));
}

}  // namespace
