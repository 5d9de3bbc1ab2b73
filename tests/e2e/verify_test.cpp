// The verify option -v of the three sending programs: each written file is
// read back with room for one byte more and compared, so that a device that
// stores a file wrong while it confirms the write is caught, loudly.
#include <gtest/gtest.h>

#include "support/e2e.h"
#include "support/file_session.h"

namespace {

struct Sender {
  std::string program;
  std::vector<std::string> args;  // -v comes in front
  std::string host_name;
  std::string device_name;
  std::string stored_header;      // what the program puts before the host file
};

// A file of three data Packets, so that a lost or doubled middle one shows.
const std::string content = binary_file(600);

std::vector<Sender> senders() {
  return {
      {"qvcopy", {"f.bin", "F.BIN"}, "f.bin", "F.BIN", ""},
      {"qvcomlog", {"-c3", "f.bin"}, "f.bin", "COM3.LOG", "#01;19130101 000000\r###;\r"},
      {"qvinstall", {"-q", "f.bas"}, "f.bas", "F.BAS", ""},
  };
}

FileSession send(const Sender& sender, bool verify, std::vector<std::string> emulator_args) {
  std::vector<std::string> args = sender.args;
  if (verify) args.insert(args.begin(), "-v");
  return run_file_program(sender.program, args, std::move(emulator_args), {}, {{sender.host_name, content}});
}

std::string read_request(const std::string& name, std::size_t room) {
  const std::string capacity = {static_cast<char>(room & 0xFF), static_cast<char>((room >> 8) & 0xFF),
                                static_cast<char>((room >> 16) & 0xFF)};
  return packet(1, "RFV" + capacity + "S1:" + with_nul(name));
}

TEST(Verify, ASoundWriteIsReadBackWithRoomForOneByteMore) {
  for (const Sender& sender : senders()) {
    const FileSession session = send(sender, true, {});
    const std::string stored = sender.stored_header + content;
    EXPECT_EQ(session.run.exit_code, 0) << sender.program << session.run.err;
    EXPECT_EQ(read_file(session.storage + "/" + sender.device_name), stored) << sender.program;
    EXPECT_NE(host_bytes(session.trace).find(read_request(sender.device_name, stored.size() + 1)), std::string::npos)
        << sender.program;
    EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{}) << sender.program;
  }
}

TEST(Verify, AFileStoredWithAPacketMissingOrDoubledFailsLoudlyAndGoesUnnoticedWithout) {
  for (const Sender& sender : senders()) {
    for (const std::string fault : {"--lose-data", "--double-data"}) {
      const FileSession unverified = send(sender, false, {fault, "2"});
      EXPECT_EQ(unverified.run.exit_code, 0) << sender.program << fault;
      EXPECT_NE(read_file(unverified.storage + "/" + sender.device_name), sender.stored_header + content);

      const FileSession verified = send(sender, true, {fault, "2"});
      EXPECT_EQ(verified.run.exit_code, 2) << sender.program << fault;
      EXPECT_NE(verified.run.err.find(sender.device_name + ": read back, the device file differs from what was sent\n"),
                std::string::npos)
          << sender.program << fault << verified.run.err;
    }
  }
}

TEST(Verify, AReadBackThatFailsIsLoudToo) {
  for (const Sender& sender : senders()) {
    const FileSession session = send(sender, true, {"--ang-at", "1"});
    EXPECT_EQ(session.run.exit_code, 2) << sender.program;
    EXPECT_NE(session.run.err.find(sender.device_name + ": not read back, the write is not verified\n"),
              std::string::npos)
        << sender.program << session.run.err;
  }
}

// qvinstall -v with the program on standard input: what went out is what
// came in on standard input, and that is what the read-back is compared
// with (there is no file named "-" to read it from again).
TEST(Verify, AProgramFromStandardInputIsVerifiedAgainstWhatWasSent) {
  RunOptions piped;
  piped.stdin_bytes = content;
  const FileSession session = run_file_program("qvinstall", {"-v", "-q", "-"}, {}, {}, {}, piped);
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_EQ(read_file(session.storage + "/-"), content);
  EXPECT_NE(host_bytes(session.trace).find(read_request("-", content.size() + 1)), std::string::npos);
}

}  // namespace
