// Weighing echo damage against the device's check: only damage that could
// have reached the device and passed its sum makes a write doubtful.
#include <gtest/gtest.h>

#include <vector>

#include "pclink/checksum16.h"
#include "pclink/echo_damage.h"

namespace {

// A Packet of 8 payload bytes: SOH, number, complement, length, payload, sum.
constexpr UnitCheck packet_check{15, 5, 13};

std::vector<std::uint8_t> packet(std::vector<std::uint8_t> payload = {0x52, 0x46, 0x44, 0x10, 0x21, 0x32, 0x43, 0x54}) {
  std::vector<std::uint8_t> unit = {0x01, 0x02, 0xFD, 0x08, 0x00};
  for (std::uint8_t byte : payload) unit.push_back(byte);
  const std::uint16_t sum = checksum16(8, payload.data());
  unit.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  unit.push_back(static_cast<std::uint8_t>(sum >> 8));
  return unit;
}

EchoChange changed(int place, int by) {
  const std::uint8_t sent = packet()[static_cast<std::size_t>(place)];
  return {place, sent, static_cast<std::uint8_t>(sent + by)};
}

bool changes_could_pass(const std::vector<EchoChange>& changes) {
  EchoDamage damage;
  damage.changes = changes.data();
  damage.change_count = static_cast<int>(changes.size());
  return damage_could_pass(packet_check, packet().data(), damage);
}

bool added_could_pass(const std::vector<std::uint8_t>& sent, int at, const std::vector<std::uint8_t>& added,
                      const std::vector<EchoChange>& changes = {}, bool run_reached_device = false) {
  EchoDamage damage;
  damage.added_on_way_there = run_reached_device;
  damage.changes = changes.data();
  damage.change_count = static_cast<int>(changes.size());
  damage.added_at = at;
  damage.added = added.data();
  damage.added_count = static_cast<int>(added.size());
  return damage_could_pass(packet_check, sent.data(), damage);
}

TEST(EchoDamage, ChangesThatCancelInTheSumCouldHaveBeenStored) {
  // Bit 0 set in one byte and cleared in another: the sum stays.
  EXPECT_TRUE(changes_could_pass({changed(8, 1), changed(12, -1)}));
  // A payload byte and the sum's low byte changed alike.
  EXPECT_TRUE(changes_could_pass({changed(9, 4), changed(13, 4)}));
  // Two of three changes cancel: that part alone could have struck the device.
  EXPECT_TRUE(changes_could_pass({changed(8, 2), changed(10, 16), changed(11, -2)}));
  // 256 added under the sum, and one to the sum's high byte.
  EXPECT_TRUE(changes_could_pass({changed(8, 128), changed(9, 128), changed(14, 1)}));
}

TEST(EchoDamage, ChangesTheDeviceRefusesWhereverTheyStruckLeaveNoDoubt) {
  EXPECT_FALSE(changes_could_pass({changed(8, 1), changed(12, 1)}));
  EXPECT_FALSE(changes_could_pass({changed(8, 4), changed(10, -8), changed(14, 1)}));
}

TEST(EchoDamage, WhatTheSumDoesNotCoverIsTakenToPass) {
  // The number and a payload byte: the device reads another Packet number.
  EXPECT_TRUE(changes_could_pass({changed(1, 1), changed(9, 4)}));
  // Too many changes to weigh.
  std::vector<EchoChange> many;
  for (int place = 5; place < 5 + weighed_changes_limit + 1; ++place) many.push_back(changed(place, 1));
  EXPECT_TRUE(changes_could_pass(many));
  // No check known for the unit.
  const std::vector<EchoChange> two = {changed(8, 1), changed(12, 1)};
  EchoDamage damage;
  damage.changes = two.data();
  damage.change_count = 2;
  EXPECT_TRUE(damage_could_pass(UnitCheck{}, packet().data(), damage));
}

// The device takes the Packet's length of what reached it: bytes added on
// the way push the last of ours out and shift the sum it compares.
TEST(EchoDamage, AddedBytesPassOnlyWhereTheShiftedPacketStillAddsUp) {
  EXPECT_FALSE(added_could_pass(packet(), 9, {0x21}));             // a payload byte doubled
  EXPECT_FALSE(added_could_pass(packet(), 7, {0x41, 0x42, 0x43}));  // garbage
  // Within the header the device reads another length: taken to pass.
  EXPECT_TRUE(added_could_pass(packet(), 3, {0x00}));
  // A byte added whose shifted Packet adds up by chance. Payload C8 00 .. 00
  // 39 sums to 0x0101; with 0x71 added before its last byte the device reads
  // payload C8 00 .. 00 71, 0x0139, and then the sum bytes 39 01.
  const std::vector<std::uint8_t> sent = packet({0xC8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x39});
  EXPECT_TRUE(added_could_pass(sent, 12, {0x71}));
  EXPECT_FALSE(added_could_pass(sent, 12, {0x72}));
}

// Damage shared between an added run and a change: every share is tried.
TEST(EchoDamage, AnAddedRunWithChangesIsWeighedInEveryShare) {
  // A doubled byte and a change that, alone on the way there, cancels
  // nothing: refused every way.
  EXPECT_FALSE(added_could_pass(packet(), 9, {0x21}, {changed(11, 1)}));
  // Two changes that cancel, beside the run: the changes alone could pass.
  EXPECT_TRUE(added_could_pass(packet(), 9, {0x21}, {changed(8, 1), changed(11, -1)}));
  // The device's early answer showed that the run reached it: every share
  // holds the run, and the shifted Packet fails the sum whatever else struck.
  EXPECT_FALSE(added_could_pass(packet(), 9, {0x21}, {changed(8, 1), changed(11, -1)}, true));
  // A shifted Packet that adds up by chance still could pass.
  const std::vector<std::uint8_t> sent = packet({0xC8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x39});
  EXPECT_TRUE(added_could_pass(sent, 12, {0x71}, {}, true));
}

}  // namespace
