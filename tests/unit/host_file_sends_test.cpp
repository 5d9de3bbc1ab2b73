// Host files sent as device files: what is sent or refused, the read-back of
// a verified write, and the exit code each outcome gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/host_file_transfers.h"
#include "pclink/packet.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"
#include "support/sjis.h"
#include "unit/host_file_transfers_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace host_file_transfers_test;
using scripted_port::Bytes;
using scripted_port::packet_bytes;

// The device's answers to a one-Packet write, confirmed, and to the
// read-back's request, up to its first data Packet.
std::vector<Bytes> write_then_read_back_request() {
  std::vector<Bytes> answers = with_consent({{ACK}, {ACK}, {ACK}, packet_bytes(1, "AEX"), {EOT}, {ENQ}});
  for (const Bytes& answer : with_consent({{ACK}, {ACK}})) answers.push_back(answer);
  return answers;
}

TEST_F(HostFileTransfers, SendsHeaderAndFileAsOneDeviceFile) {
  fs::path host = folder / "memo.txt";
  std::ofstream(host, std::ios::binary) << "hello";
  scripted_port::answer_units(with_consent({{ACK}, {ACK}, {ACK}, packet_bytes(1, "AEX"), {EOT}, {ENQ}}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(send_host_file(host.c_str(), "COM3.LOG", "HEAD", 4), exit_done);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "o end\n");
  const auto& units = scripted_port::written_units();
  EXPECT_EQ(units[5], packet_bytes(1, std::string("RFDS1:COM3.LOG") + '\0'));
  EXPECT_EQ(units[6], packet_bytes(2, "RFDHEADhello"));
  // The closing ENQ was taken.
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

TEST_F(HostFileTransfers, AHostFileThatCannotBeReadIsRefusedBeforeAnythingIsSent) {
  for (fs::path host : {folder / "missing.txt", folder}) {  // a directory cannot be read whole
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    scripted_port::queue_incoming({ENQ});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(send_host_file(host.c_str(), "X", "", 0), exit_not_done);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), host.string() + ":file open error\n");
    EXPECT_TRUE(scripted_port::written().empty());
    // Nothing went out, so no closing ENQ is awaited from the idle device.
    EXPECT_EQ(scripted_port::incoming_left(), 1u);
  }
}

TEST_F(HostFileTransfers, ARefusedWriteIsNotDone) {
  fs::path host = folder / "a";
  std::ofstream(host, std::ios::binary) << "a";
  scripted_port::answer_units(with_consent({{ACK}, {ACK}, {ACK}, packet_bytes(1, "ANG"), {EOT}, {ENQ}}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(send_host_file(host.c_str(), "A", "", 0), exit_not_done);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "oA" + sjis(":送信に失敗しました") + "\n");
}

// A read-back of -v that the line cuts off ends the program in the link
// layer: the verify message still says the write is not verified, after
// "TimeOut" (exit code 1: the line failed) or "transfer abandoned" (exit
// code 2). A read-back that succeeded leaves no such note behind.
TEST_F(HostFileTransfers, AReadBackCutOffByTheLineSaysTheWriteIsNotVerified) {
  fs::path host = folder / "memo.txt";
  std::ofstream(host, std::ios::binary) << "hello";
  const std::vector<Bytes> write_and_request = write_then_read_back_request();
  // Out of sequence: each of two reads starts with Packet 2; the train is
  // answered to its end, then asked for again, once.
  std::vector<Bytes> out_of_sequence = {packet_bytes(2, "AFVhello"), {EOT}, {ENQ}};
  for (const Bytes& answer : with_consent({{ACK}, {ACK}, packet_bytes(2, "AFVhello"), {EOT}, {ENQ}})) {
    out_of_sequence.push_back(answer);
  }
  struct Case {
    const char* what;
    std::vector<Bytes> train;  // the device's answers from the host's ENQ for the data on
    int exit_code;
    const char* pattern;
  };
  for (const Case& c : {Case{"silent", {{}}, exit_line_failed, "TimeOut\nF: not read back, the write is not verified\n$"},
                        Case{"out of sequence", out_of_sequence, exit_not_done,
                             "F: reading it again from the start\n.*transfer abandoned\nF: not read back, the write is "
                             "not verified\n$"}}) {
    SCOPED_TRACE(c.what);
    auto send = [&] {
      std::vector<Bytes> answers = write_and_request;
      answers.insert(answers.end(), c.train.begin(), c.train.end());
      scripted_port::answer_units(answers);
      send_host_file(host.c_str(), "F", "", 0, true);
    };
    EXPECT_EXIT(send(), ::testing::ExitedWithCode(c.exit_code), c.pattern);
  }
  // Verified whole, and then the line fails: nothing is said of the verify.
  std::vector<Bytes> answers = write_and_request;
  answers.insert(answers.end(), {packet_bytes(1, "AFVhello"), {EOT}, {ENQ}});
  scripted_port::answer_units(answers);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(send_host_file(host.c_str(), "F", "", 0, true), exit_done);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EXIT(timeout_exit(), ::testing::ExitedWithCode(exit_line_failed), "^TimeOut\n$");
}

// A read-back that differs from what was sent may have met a Packet
// altered behind a sound sum on its way back: the file is read back once
// more, and the write is whole when that read-back is the file sent, or
// when each byte came back as sent in one of the two. Two read-backs wrong
// at one byte the same way mean the device stored it wrong.
TEST_F(HostFileTransfers, AReadBackThatDiffersIsReadBackOnceMore) {
  fs::path host = folder / "memo.txt";
  std::ofstream(host, std::ios::binary) << "hello";
  const std::vector<Bytes> write_and_request = write_then_read_back_request();
  struct Case {
    const char* what;
    std::vector<std::string> read_backs;
    int exit_code;
  };
  for (const Case& c : {Case{"the first as sent", {"hello"}, exit_done},
                        Case{"the second as sent", {"hellp", "hello"}, exit_done},
                        Case{"each byte as sent in one", {"hellp", "jello"}, exit_done},
                        Case{"one byte wrong in both", {"hellp", "jellp"}, exit_not_done},
                        Case{"both the same, wrong", {"hellp", "hellp"}, exit_not_done}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    std::vector<Bytes> answers = write_and_request;
    for (std::size_t i = 0; i < c.read_backs.size(); ++i) {
      if (i > 0) {
        for (const Bytes& answer : with_consent({{ACK}, {ACK}})) answers.push_back(answer);
      }
      answers.insert(answers.end(), {packet_bytes(1, "AFV" + c.read_backs[i]), {EOT}, {ENQ}});
    }
    scripted_port::answer_units(answers);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(send_host_file(host.c_str(), "F", "", 0, true), c.exit_code);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("F: the read-back differs from what was sent: reading it back again\n") != std::string::npos,
              c.read_backs.size() == 2)
        << err;
    EXPECT_EQ(err.find("F: read back, the device file differs from what was sent\n") != std::string::npos,
              c.exit_code != exit_done)
        << err;
    std::size_t requests = 0;
    for (const Bytes& unit : scripted_port::written_units()) {
      requests += unit.size() > 8 && unit[5] == 'R' && unit[7] == 'V';
    }
    EXPECT_EQ(requests, c.read_backs.size());
  }
}

}  // namespace
