// The emulator's own parsing: units read off the line, the storage name
// rules, and its command line.
#include <gtest/gtest.h>

#include <deque>

#include "qvemu/options.h"
#include "qvemu/packet_codec.h"
#include "qvemu/storage.h"

namespace {

using qvemu::Bytes;

// A byte source that runs dry: a time-out after the last byte.
qvemu::HostUnit read_unit(const Bytes& line) {
  std::deque<std::uint8_t> pending(line.begin(), line.end());
  return qvemu::read_host_unit([&pending](bool) -> std::optional<std::uint8_t> {
    if (pending.empty()) return std::nullopt;
    const std::uint8_t byte = pending.front();
    pending.pop_front();
    return byte;
  });
}

TEST(QvemuUnits, PacketIsDecodedWithItsChecks) {
  const qvemu::HostUnit unit = read_unit({0x01, 0x01, 0xFE, 0x03, 0x00, 'C', 'L', 'E', 0xD4, 0x00});
  EXPECT_EQ(unit.kind, qvemu::UnitKind::packet);
  EXPECT_EQ(unit.payload, qvemu::bytes_of("CLE"));
  EXPECT_TRUE(unit.complement_ok());
  EXPECT_TRUE(unit.checksum_ok());
  EXPECT_EQ(qvemu::describe_host_unit(unit), "packet 1 \"CLE\"");
  EXPECT_EQ(qvemu::hex_bytes(unit.raw), "01 01 FE 03 00 43 4C 45 D4 00");
}

TEST(QvemuUnits, DamageAndTruncationAreTold) {
  const qvemu::HostUnit bad = read_unit({0x01, 0x02, 0xFE, 0x01, 0x00, 0x00, 0x01, 0x00});
  EXPECT_FALSE(bad.complement_ok());
  EXPECT_FALSE(bad.checksum_ok());
  EXPECT_EQ(qvemu::describe_host_unit(bad), "packet 2 \"\\x00\" (bad complement) (bad checksum)");

  // The length field promises more than arrives before the time-out.
  const qvemu::HostUnit cut = read_unit({0x01, 0x01, 0xFE, 0x10, 0x00, 'R'});
  EXPECT_EQ(cut.kind, qvemu::UnitKind::truncated);
  EXPECT_EQ(cut.raw.size(), 6u);
  EXPECT_EQ(qvemu::describe_host_unit(cut), "truncated packet (6 bytes)");

  EXPECT_EQ(qvemu::describe_host_unit(read_unit({0x18})), "CAN");
  EXPECT_EQ(qvemu::describe_host_unit(read_unit({0x41})), "byte 0x41");
}

// A relay frame carries exactly one unit. A payload that goes on after its
// unit (a frame whose sum collided over a damaged Packet, its SOH turned into
// 0x21) is garbled, so the device NAKs it instead of passing a stray byte
// over and waiting, while the host waits for its answer.
TEST(QvemuUnits, AFramePayloadIsOneUnitOrGarbled) {
  const Bytes packet = qvemu::encode_packet(4, qvemu::bytes_of("RFDdata"));
  EXPECT_EQ(qvemu::unit_of_frame(packet).kind, qvemu::UnitKind::packet);
  EXPECT_EQ(qvemu::describe_host_unit(qvemu::unit_of_frame({0x06})), "ACK");
  Bytes soh_damaged = packet;
  soh_damaged[0] = 0x21;
  Bytes packet_and_more = packet;
  packet_and_more.push_back(0x06);
  for (const Bytes& payload : {soh_damaged, packet_and_more, Bytes{0x06, 0x06}}) {
    const qvemu::HostUnit unit = qvemu::unit_of_frame(payload);
    EXPECT_EQ(unit.kind, qvemu::UnitKind::garbled) << qvemu::hex_bytes(payload);
    EXPECT_EQ(unit.raw, payload);
    EXPECT_EQ(qvemu::describe_host_unit(unit), "garbled unit (" + std::to_string(payload.size()) + " bytes)");
  }
  // A Packet that claims more than the frame holds is cut short, as on a cable.
  EXPECT_EQ(qvemu::unit_of_frame(Bytes(packet.begin(), packet.end() - 1)).kind, qvemu::UnitKind::truncated);
}

TEST(QvemuUnits, EncodedPacketWrapsNumberAndSumsModulo65536) {
  const Bytes payload(300, 0xFF);  // sums to 76500 = 0x12AD4
  const Bytes line = qvemu::encode_packet(256, payload);
  ASSERT_EQ(line.size(), 307u);
  EXPECT_EQ(qvemu::hex_bytes(Bytes(line.begin(), line.begin() + 5)), "01 00 FF 2C 01");
  EXPECT_EQ(qvemu::hex_bytes(Bytes(line.end() - 2, line.end())), "D4 2A");
  // A damaged Packet carries a checksum one off.
  EXPECT_EQ(qvemu::hex_bytes(qvemu::encode_packet(1, {}, true)), "01 01 FE 00 00 01 00");
}

TEST(QvemuStorage, OnlyPlainNamesInsideTheFolderAreAccepted) {
  for (const char* name : {"MEMO.TXT", "COM0.LOG", "a b", "\x83\x41.BAS"}) {
    EXPECT_EQ(qvemu::unsafe_name_reason(name), std::nullopt) << name;
  }
  for (const std::string& name : std::vector<std::string>{"", "..", "../x", "a/b", "a\\b", ".hidden", "x..y", "a\nb",
                                                       std::string(256, 'a')}) {
    EXPECT_NE(qvemu::unsafe_name_reason(name), std::nullopt) << name;
  }
}

TEST(QvemuOptions, FaultsAndPathsAreParsed) {
  qvemu::Options options;
  std::string error;
  ASSERT_TRUE(qvemu::parse_options({"--no-echo", "--nak-command", "2", "--silent-after=0", "--storage", "/s",
                                    "--wrong-tag", "3", "--no-addin", "--noise", "9:1e-4", "--lose-data=2"},
                                   options, error))
      << error;
  EXPECT_FALSE(options.echo);
  EXPECT_EQ(options.faults.nak_command, 2);
  EXPECT_EQ(options.faults.silent_after, 0);
  EXPECT_EQ(options.faults.wrong_tag, 3);
  EXPECT_TRUE(options.faults.no_addin);
  EXPECT_EQ(options.storage_dir, "/s");
  EXPECT_EQ(options.noise.seed, 9u);
  EXPECT_DOUBLE_EQ(options.noise.rate, 1e-4);
  EXPECT_EQ(options.faults.lose_data, 2);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--nak-command"}, {"--nak-command", "x"}, {"--bogus"}, {"--trace"}, {"--refuse=1"},
           {"--noise"}, {"--noise", "9"}}) {
    qvemu::Options ignored;
    EXPECT_FALSE(qvemu::parse_options(bad, ignored, error)) << bad[0];
  }
}

}  // namespace
