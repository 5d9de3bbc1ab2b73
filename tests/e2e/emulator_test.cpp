// The emulator itself, driven byte by byte by a scripted host: it must catch
// a damaged host Packet, keep its storage inside its folder, and serve the
// read, write, list and add-in conversations the programs rely on.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/e2e.h"
#include "support/e2e_host.h"

namespace {

const std::string EOT = "\x04", ENQ = "\x05", ACK = "\x06", NAK = "\x15";

bool has_violation_mentioning(const std::string& trace, const std::string& text) {
  for (const std::string& line : trace_violations(trace)) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// The host's half of a command exchange; returns the reply Packet's bytes.
std::string command_exchange(ScriptedHost& host, const std::string& payload, std::size_t reply_length) {
  host.transmit(packet(1, payload));
  EXPECT_EQ(to_hex(host.receive(1)), "06");
  host.transmit(EOT);
  EXPECT_EQ(to_hex(host.receive(1)), "06");
  host.transmit(ENQ);
  std::string reply = host.receive(reply_length);
  host.transmit(ACK);
  EXPECT_EQ(to_hex(host.receive(1)), "04");
  host.transmit(ACK);
  EXPECT_EQ(to_hex(host.receive(1)), "05");
  return reply;
}

// Sends a command Packet and its EOT, then asks for the data with ENQ.
void request(ScriptedHost& host, const std::string& payload) {
  host.transmit(packet(1, payload));
  EXPECT_EQ(to_hex(host.receive(1)), "06");
  host.transmit(EOT);
  EXPECT_EQ(to_hex(host.receive(1)), "06");
  host.transmit(ENQ);
}

// The host's end of a data train from the device: ACK the last Packet, then
// the EOT, then the device is ready.
void acknowledge_last_packet_and_eot(ScriptedHost& host) {
  host.transmit(ACK);
  EXPECT_EQ(to_hex(host.receive(1)), "04");
  host.transmit(ACK);
  EXPECT_EQ(to_hex(host.receive(1)), "05");
}

// One Packet of the write train, answered with one byte.
std::string send_data(ScriptedHost& host, int number, const std::string& payload) {
  host.transmit(packet(number, payload));
  return host.receive(1);
}

void finish_write(ScriptedHost& host, const std::string& expected_answer) {
  host.transmit(EOT);
  EXPECT_EQ(to_hex(host.receive(1)), "06");
  host.transmit(ENQ);
  EXPECT_EQ(host.receive(10), packet(1, expected_answer));
  host.transmit(ACK);
  EXPECT_EQ(to_hex(host.receive(1)), "04");
  host.transmit(ACK);
  EXPECT_EQ(to_hex(host.receive(1)), "05");
}

TEST(EmulatorChecks, DamagedHostPacketIsAnsweredWithNakAndReported) {
  Emulator emulator = start_emulator();
  {
    ScriptedHost host(emulator.pty_path);
    ASSERT_TRUE(host.opened());
    const std::string damaged = from_hex("01 01 FE 03 00 43 4C 45 D5 00");
    EXPECT_EQ(host.transmit(damaged), damaged);
    EXPECT_EQ(to_hex(host.receive(1)), "15");
    // The same command, sound this time, goes through.
    EXPECT_EQ(command_exchange(host, "CLE", 10), packet(1, "DOK"));
  }
  const std::string trace = stop_emulator(emulator);
  EXPECT_TRUE(has_violation_mentioning(trace, "checksum 0x00D5, payload sums to 0x00D4")) << trace;
  EXPECT_EQ(trace_violations(trace).size(), 1u) << trace;
  EXPECT_TRUE(has_event(trace, "reset"));
}

TEST(EmulatorChecks, WrongNumberAndStrayBytesAreReported) {
  Emulator emulator = start_emulator({"--no-echo"});
  {
    ScriptedHost host(emulator.pty_path, false);
    host.send(packet(2, "CLE"));
    EXPECT_EQ(to_hex(host.receive(1)), "15");
    host.transmit(ACK);  // nothing to acknowledge while the device waits for a command
    host.send(packet(1, std::string("CLE\0", 4)));
    EXPECT_EQ(to_hex(host.receive(1)), "06");
    host.send(EOT);
    EXPECT_EQ(to_hex(host.receive(1)), "06");
    host.send(ENQ);
    EXPECT_EQ(host.receive(10), packet(1, "DOK"));
  }
  const std::string trace = stop_emulator(emulator);
  EXPECT_TRUE(has_violation_mentioning(trace, "command Packet: number 2, expected 1")) << trace;
  EXPECT_TRUE(has_violation_mentioning(trace, "expected command Packet, got ACK")) << trace;
  EXPECT_TRUE(has_violation_mentioning(trace, "command \"CLE\" carries 4 bytes, expected 3")) << trace;
}

TEST(EmulatorChecks, PacketCutShortIsReportedAfterItsByteTimeOut) {
  Emulator emulator = start_emulator({"--no-echo"});
  {
    ScriptedHost host(emulator.pty_path, false);
    host.send(from_hex("01 01 FE 10 00 52"));  // promises 16 payload bytes, sends one
    EXPECT_EQ(to_hex(host.receive(1, 10000)), "15");
  }
  const std::string trace = stop_emulator(emulator);
  const std::vector<TraceUnit> units = trace_units(trace);
  ASSERT_FALSE(units.empty());
  EXPECT_EQ(units[0].decoded, "truncated packet (6 bytes)");
  EXPECT_TRUE(has_violation_mentioning(trace, "expected command Packet, got truncated packet")) << trace;
}

TEST(EmulatorSessions, OnceEndsWithTheFirstSession) {
  Emulator emulator = start_emulator({"--once"});
  RunResult run = run_device_program(emulator, "qvrestart", {"-r"});
  EXPECT_EQ(run.exit_code, 0);
  // The emulator ends by itself; stop_emulator only collects it.
  const std::string trace = stop_emulator(emulator);
  const std::vector<std::string> events = trace_events(trace);
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.front(), "session open");
  EXPECT_EQ(events.back(), "session closed");
}

TEST(EmulatorStorage, NamesThatCouldEscapeTheFolderAreRefused) {
  for (const char* name : {"../x", "sub/x", "..", "", "a\\b"}) {
    SCOPED_TRACE(name);
    Emulator emulator = start_emulator();
    {
      ScriptedHost host(emulator.pty_path);
      EXPECT_EQ(command_exchange(host, "CFD", 10), packet(1, "DOK"));
      EXPECT_EQ(to_hex(send_data(host, 1, "RFDS1:" + std::string(name) + std::string(1, '\0'))), "06");
      EXPECT_EQ(to_hex(send_data(host, 2, "RFDhello")), "06");
      finish_write(host, "ANG");
    }
    const std::string trace = stop_emulator(emulator);
    EXPECT_FALSE(file_exists(emulator.work_dir + "/x"));
    EXPECT_FALSE(file_exists(emulator.storage_dir + "/sub"));
    EXPECT_TRUE(std::filesystem::is_empty(emulator.storage_dir));
    EXPECT_TRUE(has_violation_mentioning(trace, "write request for")) << trace;
  }
}

TEST(EmulatorServices, WriteTrainStoresTheFileAndAcceptsTheEndOfTextRepeat) {
  Emulator emulator = start_emulator({"--nak-data", "3"});
  const std::string data(253, 'a');
  {
    ScriptedHost host(emulator.pty_path);
    EXPECT_EQ(command_exchange(host, "CFD", 10), packet(1, "DOK"));
    EXPECT_EQ(to_hex(send_data(host, 1, std::string("RFDS1:HELLO.BAS\0", 16))), "06");
    EXPECT_EQ(to_hex(send_data(host, 2, "RFD" + data)), "06");
    EXPECT_EQ(to_hex(send_data(host, 3, "RFDxy")), "06");
    // The installer's end-of-text Packet, NAKed once, comes again under its own number.
    EXPECT_EQ(to_hex(send_data(host, 4, "RFD\x1A")), "15");
    EXPECT_EQ(to_hex(send_data(host, 4, "RFD\x1A")), "06");
    finish_write(host, "AEX");
  }
  const std::string trace = stop_emulator(emulator);
  EXPECT_EQ(trace_violations(trace), std::vector<std::string>{});
  EXPECT_TRUE(has_event(trace, "end-of-text")) << trace;
  EXPECT_TRUE(has_event(trace, "stored HELLO.BAS 256 bytes")) << trace;
  EXPECT_EQ(read_file(emulator.storage_dir + "/HELLO.BAS"), data + "xy\x1A");
}

TEST(EmulatorServices, RepeatAfterNakTakesTheNextNumber) {
  Emulator emulator = start_emulator({"--no-echo", "--nak-request"});
  {
    ScriptedHost host(emulator.pty_path, false);
    EXPECT_EQ(command_exchange(host, "CFD", 10), packet(1, "DOK"));
    const std::string request("RFDS1:A\0", 8);
    EXPECT_EQ(to_hex(send_data(host, 1, request)), "15");
    EXPECT_EQ(to_hex(send_data(host, 2, request)), "06");
    EXPECT_EQ(to_hex(send_data(host, 3, "RFD")), "06");
    // A data Packet that repeats the number before it is out of order.
    EXPECT_EQ(to_hex(send_data(host, 3, "RFD")), "15");
    finish_write(host, "AEX");
  }
  const std::string trace = stop_emulator(emulator);
  EXPECT_TRUE(has_violation_mentioning(trace, "data Packet: number 3, expected 4")) << trace;
  EXPECT_EQ(read_file(emulator.storage_dir + "/A"), "");
}

TEST(EmulatorServices, ReadTrainSendsTheFileInPacketsOf253Bytes) {
  Emulator emulator = start_emulator({"--no-echo", "--damage-data", "2"});
  std::string content;
  for (int i = 0; i < 300; ++i) content += static_cast<char>(i);
  write_file(emulator.storage_dir + "/MEMO.TXT", content);
  {
    ScriptedHost host(emulator.pty_path, false);
    EXPECT_EQ(command_exchange(host, "CFV", 10), packet(1, "DOK"));
    request(host, std::string("RFV\x00\x00\x02S1:MEMO.TXT\0", 18));
    EXPECT_EQ(host.receive(263), packet(1, "AFV" + content.substr(0, 253)));
    host.transmit(ACK);
    const std::string damaged = host.receive(57);
    EXPECT_NE(damaged, packet(2, "AFV" + content.substr(253)));
    host.transmit(NAK);
    EXPECT_EQ(host.receive(57), packet(2, "AFV" + content.substr(253)));
    acknowledge_last_packet_and_eot(host);
  }
  const std::string trace = stop_emulator(emulator);
  EXPECT_EQ(trace_violations(trace), std::vector<std::string>{});
  EXPECT_TRUE(has_event(trace, "fault: damaged data Packet 2")) << trace;
}

TEST(EmulatorServices, ReadNeverExceedsTheCapacityUnlessAskedTo) {
  for (const bool overrun : {false, true}) {
    SCOPED_TRACE(overrun ? "overrun" : "capacity");
    Emulator emulator = start_emulator(overrun ? std::vector<std::string>{"--no-echo", "--overrun", "2"}
                                               : std::vector<std::string>{"--no-echo"});
    write_file(emulator.storage_dir + "/BIG", "0123456789");
    {
      ScriptedHost host(emulator.pty_path, false);
      EXPECT_EQ(command_exchange(host, "CFV", 10), packet(1, "DOK"));
      request(host, std::string("RFV\x04\x00\x00S1:BIG\0", 13));
      EXPECT_EQ(host.receive(overrun ? 16 : 14), packet(1, overrun ? "AFV012345" : "AFV0123"));
    }
    stop_emulator(emulator);
  }
}

TEST(EmulatorServices, MissingFileIsRefusedAndTheTrainClosesAtOnce) {
  Emulator emulator = start_emulator({"--no-echo"});
  {
    ScriptedHost host(emulator.pty_path, false);
    EXPECT_EQ(command_exchange(host, "CFV", 10), packet(1, "DOK"));
    request(host, std::string("RFV\x00\x00\x02S1:NONE\0", 14));
    EXPECT_EQ(host.receive(10), packet(1, "ANG"));
    host.transmit(ACK);
    // The host has stopped listening for the train: EOT and ENQ come unasked.
    EXPECT_EQ(to_hex(host.receive(2)), "04 05");
  }
  const std::string trace = stop_emulator(emulator);
  EXPECT_EQ(trace_violations(trace), std::vector<std::string>{});
}

TEST(EmulatorServices, AddinProbeIsAnsweredLikeAReply) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "refused" : "accepted");
    Emulator emulator = start_emulator(refused ? std::vector<std::string>{"--no-addin"} : std::vector<std::string>{});
    {
      ScriptedHost host(emulator.pty_path);
      EXPECT_EQ(command_exchange(host, "CFV", 10), packet(1, "DOK"));
      const std::string probe = from_hex("52 46 56 0A 00 00 53 31 3A 4E 49 46 41 44 52 2E 42 4F 58 00");
      EXPECT_EQ(to_hex(packet(1, probe).substr(25)), "81 04");
      EXPECT_EQ(command_exchange(host, probe, 10), packet(1, refused ? "ANG" : "AFV"));
    }
    const std::string trace = stop_emulator(emulator);
    EXPECT_EQ(trace_violations(trace), std::vector<std::string>{});
  }
}

TEST(EmulatorServices, ListTrainCarriesOneLinePerStoredFile) {
  Emulator emulator = start_emulator({"--no-echo"});
  write_file(emulator.storage_dir + "/B.TXT", "12345");
  write_file(emulator.storage_dir + "/A.BAS", "");
  {
    ScriptedHost host(emulator.pty_path, false);
    EXPECT_EQ(command_exchange(host, "CFF", 10), packet(1, "DOK"));
    request(host, std::string("RFFS1:\0", 7));
    const std::string list = "A.BAS 0\r\nB.TXT 5\r\n";
    EXPECT_EQ(host.receive(10 + list.size()), packet(1, "AFF" + list));
    acknowledge_last_packet_and_eot(host);
  }
  const std::string trace = stop_emulator(emulator);
  EXPECT_EQ(trace_violations(trace), std::vector<std::string>{});
}

TEST(EmulatorServices, RequestWithoutConsentIsRefused) {
  Emulator emulator = start_emulator({"--no-echo"});
  {
    ScriptedHost host(emulator.pty_path, false);
    request(host, std::string("RFFS1:\0", 7));
    EXPECT_EQ(host.receive(10), packet(1, "ANG"));
  }
  const std::string trace = stop_emulator(emulator);
  EXPECT_TRUE(has_violation_mentioning(trace, "list request without a consented service command")) << trace;
}

}  // namespace
