// Weighing echo damage against the device's check: only damage that could
// have reached the device and passed its sum makes a write doubtful.
#include <gtest/gtest.h>

#include <vector>

#include "pclink/checksum16.h"
#include "pclink/echo_damage.h"

namespace {

// A Packet of 8 payload bytes: SOH, number, complement, length, payload, sum.
constexpr UnitCheck packet_check{15, 5, 13};

std::vector<std::uint8_t> packet() {
  std::vector<std::uint8_t> unit = {0x01, 0x02, 0xFD, 0x08, 0x00, 0x52, 0x46, 0x44, 0x10, 0x21, 0x32, 0x43, 0x54};
  const std::uint16_t sum = checksum16(8, unit.data() + 5);
  unit.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  unit.push_back(static_cast<std::uint8_t>(sum >> 8));
  return unit;
}

EchoChange changed(int place, int by) {
  const std::uint8_t sent = packet()[static_cast<std::size_t>(place)];
  return {place, sent, static_cast<std::uint8_t>(sent + by)};
}

TEST(EchoDamage, ChangesThatCancelInTheSumCouldHaveBeenStored) {
  // Bit 0 set in one byte and cleared in another: the sum stays.
  const EchoChange cancelling[] = {changed(8, 1), changed(12, -1)};
  EXPECT_TRUE(changes_could_pass(packet_check, cancelling, 2));
  // A payload byte and the sum's low byte changed alike.
  const EchoChange with_sum[] = {changed(9, 4), changed(13, 4)};
  EXPECT_TRUE(changes_could_pass(packet_check, with_sum, 2));
  // Two of three changes cancel: that part alone could have struck the device.
  const EchoChange three[] = {changed(8, 2), changed(10, 16), changed(11, -2)};
  EXPECT_TRUE(changes_could_pass(packet_check, three, 3));
  // 256 added under the sum, and one to the sum's high byte.
  const EchoChange carried[] = {changed(8, 128), changed(9, 128), changed(14, 1)};
  EXPECT_TRUE(changes_could_pass(packet_check, carried, 3));
}

TEST(EchoDamage, ChangesTheDeviceRefusesWhereverTheyStruckLeaveNoDoubt) {
  const EchoChange same_way[] = {changed(8, 1), changed(12, 1)};
  EXPECT_FALSE(changes_could_pass(packet_check, same_way, 2));
  const EchoChange apart[] = {changed(8, 4), changed(10, -8), changed(14, 1)};
  EXPECT_FALSE(changes_could_pass(packet_check, apart, 3));
}

TEST(EchoDamage, WhatTheSumDoesNotCoverIsTakenToPass) {
  // The number and its complement changed together read as another Packet.
  const EchoChange header[] = {changed(1, 1), changed(9, 4)};
  EXPECT_TRUE(changes_could_pass(packet_check, header, 2));
  // No check known for the unit, or too many changes to weigh.
  const EchoChange two[] = {changed(8, 1), changed(12, 1)};
  EXPECT_TRUE(changes_could_pass(UnitCheck{}, two, 2));
  std::vector<EchoChange> many;
  for (int place = 5; place < 5 + weighed_changes_limit + 1; ++place) many.push_back(changed(place, 1));
  EXPECT_TRUE(changes_could_pass(packet_check, many.data(), static_cast<int>(many.size())));
}

// The device takes the Packet's length of what reached it: bytes added on
// the way push the last of ours out and shift the sum it compares.
TEST(EchoDamage, AddedBytesPassOnlyWhereTheShiftedPacketStillAddsUp) {
  std::vector<std::uint8_t> echoed = packet();
  echoed.insert(echoed.begin() + 9, 0x21);  // payload byte 0x21 doubled
  EXPECT_FALSE(insertion_could_pass(packet_check, echoed.data(), 9));
  // Within the header the device reads another length: taken to pass.
  std::vector<std::uint8_t> in_header = packet();
  in_header.insert(in_header.begin() + 3, 0x00);
  EXPECT_TRUE(insertion_could_pass(packet_check, in_header.data(), 3));
  // A byte added whose shifted Packet adds up by chance: what the device
  // took is the first 15 bytes, and their sum matches. (Our Packet was the
  // same without the added 0xAA, one byte longer at its end.)
  std::vector<std::uint8_t> adds_up = {0x01, 0x02, 0xFD, 0x08, 0x00, 0x52, 0x46, 0x44, 0x10, 0xAA, 0x21, 0x32, 0x43};
  const std::uint16_t sum = checksum16(8, adds_up.data() + 5);
  adds_up.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  adds_up.push_back(static_cast<std::uint8_t>(sum >> 8));
  adds_up.push_back(0x07);
  EXPECT_TRUE(insertion_could_pass(packet_check, adds_up.data(), 9));
}

}  // namespace
