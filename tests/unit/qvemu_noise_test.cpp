// The emulator's noisy line: its setting, that it is seeded and keeps to
// its rates, that every fault is traced, and that it knows a unit that
// reaches the host altered yet sound (a checksum collision) from a damaged one.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "qvemu/line_noise.h"
#include "qvemu/relay_block.h"

namespace {

using qvemu::Bytes;
using qvemu::Direction;

Bytes counting_bytes(std::size_t count) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  return bytes;
}

struct NoisyRun {
  std::vector<qvemu::NoisyStretch> stretches;
  std::string events;
};

NoisyRun pass_through(const qvemu::NoiseSettings& settings, const Bytes& sent, Direction direction) {
  char path[] = "/tmp/qvemu-noise-XXXXXX";
  const int fd = mkstemp(path);
  close(fd);
  NoisyRun run;
  {
    qvemu::Trace trace(path);
    qvemu::LineNoise noise(settings, trace);
    run.stretches = noise.pass(direction, sent);
  }
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  run.events = text.str();
  std::remove(path);
  return run;
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(QvemuNoise, TheSettingIsSeedColonRate) {
  const auto noise = qvemu::parse_noise("42:1e-3");
  ASSERT_TRUE(noise.has_value());
  EXPECT_EQ(noise->seed, 42u);
  EXPECT_DOUBLE_EQ(noise->rate, 1e-3);
  for (const char* bad : {"", "42", ":1e-3", "x:1e-3", "4:", "4:0.5", "4:-1e-3", "4:1e-3x", "-4:1e-3"}) {
    EXPECT_FALSE(qvemu::parse_noise(bad).has_value()) << bad;
  }
}

TEST(QvemuNoise, TheSameSeedMeetsTheSameFaultsAndEachDirectionItsOwn) {
  const Bytes sent = counting_bytes(20000);
  const qvemu::NoiseSettings settings{7, 1e-2};
  const NoisyRun first = pass_through(settings, sent, Direction::to_host);
  const NoisyRun again = pass_through(settings, sent, Direction::to_host);
  EXPECT_EQ(qvemu::joined(first.stretches), qvemu::joined(again.stretches));
  EXPECT_EQ(first.events, again.events);
  EXPECT_NE(qvemu::joined(first.stretches), sent);
  EXPECT_NE(first.events, pass_through({8, 1e-2}, sent, Direction::to_host).events);
  EXPECT_NE(first.events, pass_through(settings, sent, Direction::to_device).events);
  // A clean line hands the bytes on untouched, in one stretch without a pause.
  const NoisyRun clean = pass_through({7, 0}, sent, Direction::to_host);
  ASSERT_EQ(clean.stretches.size(), 1u);
  EXPECT_EQ(clean.stretches[0].pause_ms, 0);
  EXPECT_EQ(clean.stretches[0].bytes, sent);
  EXPECT_EQ(clean.events, "");
}

TEST(QvemuNoise, FaultsComeAtTheirRatesAndEveryOneIsTraced) {
  const std::size_t count = 200000;
  const NoisyRun run = pass_through({3, 1e-2}, counting_bytes(count), Direction::to_device);
  // Expected: 2000 flips, 200 of each rarer fault; seeded, so the counts are
  // fixed, and a fault drawn at the wrong rate lands far outside these bounds.
  const std::size_t flips = count_of(run.events, "flipped");
  EXPECT_GT(flips, 1800u);
  EXPECT_LT(flips, 2200u);
  for (const char* rare : {"dropped", "doubled", "garbage bytes", "pause of"}) {
    EXPECT_GT(count_of(run.events, rare), 140u) << rare;
    EXPECT_LT(count_of(run.events, rare), 260u) << rare;
  }
  std::size_t pauses = 0;
  for (const qvemu::NoisyStretch& stretch : run.stretches) {
    if (stretch.pause_ms == 0) continue;
    ++pauses;
    EXPECT_GE(stretch.pause_ms, 100);
    EXPECT_LE(stretch.pause_ms, 2000);
  }
  EXPECT_EQ(pauses, count_of(run.events, "pause of"));
  EXPECT_EQ(count_of(run.events, "= noise to device at byte "), count_of(run.events, "\n"));
}

// A collision is file data that reaches the host altered behind a sound
// number, tag and sum: what the host would keep without noticing.
TEST(QvemuNoise, OnlyAlteredDataBehindEverySoundCheckIsACollision) {
  const Bytes payload = qvemu::bytes_of("AFVab");
  const Bytes sent = qvemu::encode_packet(3, payload);
  auto changed = [&](std::initializer_list<std::pair<std::size_t, std::uint8_t>> flips) {
    Bytes bytes = sent;
    for (const auto& [at, flip] : flips) bytes[at] ^= flip;
    return bytes;
  };
  // Bit 0 set in 'a' and cleared in 'b': the same sum.
  const std::optional<qvemu::Collision> collision = qvemu::find_collision(sent, changed({{8, 0x01}, {9, 0x01}}));
  ASSERT_TRUE(collision.has_value());
  EXPECT_EQ(collision->number, 3);
  EXPECT_EQ(collision->sent_data, qvemu::bytes_of("ab"));
  EXPECT_EQ(collision->received_data, (Bytes{0x60, 0x63}));
  EXPECT_EQ(qvemu::collision_event(*collision),
            "noise collision: Packet 3 reaches the host altered, every check sound; data sent 61 62; received 60 63");

  struct Case {
    const char* what;
    Bytes received;
  };
  Bytes trailing_garbage = sent;
  trailing_garbage.insert(trailing_garbage.end(), {0x41, 0x42});
  for (const Case& c : {Case{"one data byte changed", changed({{8, 0x01}})},
                        Case{"number alone changed", changed({{1, 0x01}})},
                        // 3 -> 2 with its complement: the host finds Packet 2 where it expects 3.
                        Case{"number and complement changed alike", changed({{1, 0x01}, {2, 0x01}})},
                        Case{"renumbered and data collided", changed({{1, 0x01}, {2, 0x01}, {8, 0x01}, {9, 0x01}})},
                        // 'A' - 1 and 'F' + 1: the host reads "@GV", not its tag.
                        Case{"tag collided", changed({{5, 0x01}, {6, 0x01}})},
                        Case{"bytes after the unit", trailing_garbage}}) {
    EXPECT_FALSE(qvemu::find_collision(sent, c.received).has_value()) << c.what;
  }
  EXPECT_FALSE(qvemu::find_collision({0x06}, {0x04}).has_value());

  // Through the relay both sums must hold, the frame's and the Packet's;
  // both add the same bytes, so a compensating pair passes both.
  const Bytes frame = qvemu::encode_relay_frame(sent);
  Bytes twice_collided = frame;
  const std::size_t payload_start = frame.size() - 2 - sent.size();
  twice_collided[payload_start + 8] ^= 0x01;
  twice_collided[payload_start + 9] ^= 0x01;
  const std::optional<qvemu::Collision> relayed = qvemu::find_collision(frame, twice_collided);
  ASSERT_TRUE(relayed.has_value());
  EXPECT_EQ(relayed->received_data, (Bytes{0x60, 0x63}));
  Bytes frame_damaged = frame;
  frame_damaged[payload_start + 8] ^= 0x01;
  EXPECT_FALSE(qvemu::find_collision(frame, frame_damaged).has_value());
}

}  // namespace
