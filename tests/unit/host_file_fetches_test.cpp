// Device files fetched into host files: what is saved or refused, the room,
// the reads compared, and the exit code each outcome gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/file_commands.h"
#include "pclink/host_file_fetches.h"
#include "pclink/packet.h"
#include "pclink/serial_port.h"
#include "support/scripted_port.h"
#include "support/sjis.h"
#include "unit/host_file_transfers_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace host_file_transfers_test;
using scripted_port::Bytes;
using scripted_port::packet_bytes;

std::string contents_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(HostFileTransfers, AnEmptyDeviceFileMakesAnEmptyHostFile) {
  fs::path host = folder / "empty.txt";
  std::ofstream(host, std::ios::binary) << "old contents";
  scripted_port::answer_units(with_consent({{ACK}, {ACK}, {EOT}, {ENQ}}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fetch_to_host_file("EMPTY.TXT", host.c_str(), fetch_limit), exit_done);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "o end\n");
  ASSERT_TRUE(fs::exists(host));
  EXPECT_EQ(fs::file_size(host), 0u);
}

TEST_F(HostFileTransfers, AFetchedFileIsSavedByteForByte) {
  fs::path host = folder / "got.bin";
  std::string data("\x00\x1A\r\n\xFF", 5);
  scripted_port::answer_units(with_consent({{ACK}, {ACK}, packet_bytes(1, "AFV" + data), {EOT}, {ENQ}}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fetch_to_host_file("GOT.BIN", host.c_str(), fetch_limit), exit_done);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(contents_of(host), data);
}

TEST_F(HostFileTransfers, AFileThatFillsTheRoomIsWholeAndOneByteMoreIsRefused) {
  fs::path host = folder / "f";
  std::ofstream(host, std::ios::binary) << "old";
  scripted_port::answer_units(with_consent({{ACK}, {ACK}, packet_bytes(1, "AFV12345"), {EOT}, {ENQ}}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fetch_to_host_file("F", host.c_str(), 5), exit_done);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "oo end\n");
  EXPECT_EQ(contents_of(host), "12345");
  // One byte more than the room is announced: 6, 0, 0.
  EXPECT_EQ(scripted_port::written_units()[5], packet_bytes(1, std::string("RFV\x06\x00\x00S1:F\0", 11)));

  // The device cuts a larger file at the announced 6 bytes.
  scripted_port::reset();
  echo_enabled = false;
  open_port(1);
  scripted_port::answer_units(with_consent({{ACK}, {ACK}, packet_bytes(1, "AFV123456"), {EOT}, {ENQ}}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fetch_to_host_file("F", host.c_str(), 5), exit_not_done);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "oo end\nF: larger than 5 bytes, not received (raise the room with -m)\n");
  EXPECT_EQ(contents_of(host), "12345");
  EXPECT_EQ(scripted_port::incoming_left(), 0u);
}

// -m cannot raise the largest room, so the refusal does not tell the user to.
// In a child process of its own: the 33 MB of script and room would stay
// in this process's heap and could serve a later test's allocation that is
// meant to fail.
TEST_F(HostFileTransfers, AtTheLargestRoomALargerFileIsRefusedWithoutTheHintToRaiseIt) {
  fs::path host = folder / "huge";
  auto fetch_one_byte_too_many = [&] {
    const int chunk = work_buffer_size - 3;  // "AFV" and the data fill the work buffer
    const std::string data(static_cast<std::size_t>(chunk), 'z');
    std::vector<Bytes> answers = {{ACK}, {ACK}};
    int number = 1;
    for (int left = largest_fetch_room + 1; left > 0; left -= chunk) {
      answers.push_back(packet_bytes(number++, "AFV" + data.substr(0, static_cast<std::size_t>(std::min(left, chunk)))));
    }
    answers.insert(answers.end(), {{EOT}, {ENQ}});
    scripted_port::answer_units(with_consent(answers));
    const bool refused = fetch_to_host_file("HUGE", host.c_str(), largest_fetch_room) == exit_not_done;
    // The full room was announced: 0xFFFFFF, one byte more than the room.
    const bool announced = scripted_port::written_units()[5] ==
                           packet_bytes(1, std::string("RFV\xFF\xFF\xFFS1:HUGE\0", 14));
    std::_Exit(refused && announced ? 0 : 1);
  };
  EXPECT_EXIT(fetch_one_byte_too_many(), ::testing::ExitedWithCode(0),
              "\nHUGE: larger than 16777214 bytes, not received \\(the most the programs can fetch\\)\n$");
  EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(HostFileTransfers, NothingIsSavedAfterAFailedFetch) {
  struct Case {
    const char* what;
    Bytes packet;
  };
  for (const Case& c : {Case{"refused", packet_bytes(2, "ANG")}, Case{"packet error", packet_bytes(2, "XYZ")}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    fs::path host = folder / "never.txt";
    scripted_port::answer_units(with_consent({{ACK}, {ACK}, packet_bytes(1, "AFVpart"), c.packet, {ENQ}}));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fetch_to_host_file("NEVER.TXT", host.c_str(), fetch_limit), exit_not_done);
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fs::exists(host));
    EXPECT_EQ(scripted_port::incoming_left(), 0u);
  }
}

// The temporary file is made before the request: a save that cannot be done
// puts nothing on the line.
TEST_F(HostFileTransfers, AHostFileThatCannotBeCreatedIsRefusedBeforeAnythingIsSent) {
  fs::path host = folder / "no such folder" / "x.txt";
  scripted_port::answer_units(with_consent({{ACK}, {ACK}, packet_bytes(1, "AFVx"), {EOT}, {ENQ}}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fetch_to_host_file("X.TXT", host.c_str(), fetch_limit), exit_not_done);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), sjis("ファイルが作れません") + "\n");
  EXPECT_TRUE(scripted_port::written().empty());
}

// Every way a fetch can fail leaves the folder as it was: the temporary
// file made before the request goes again, also when the run ends on a
// line that went silent.
TEST_F(HostFileTransfers, AFailedFetchRemovesTheTemporaryFileMadeBeforeIt) {
  fs::path host = folder / "kept.txt";
  auto expect_only_the_old_copy = [&] {
    EXPECT_EQ(contents_of(host), "old");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder)) left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"kept.txt"});
  };
  struct Case {
    const char* what;
    std::vector<Bytes> train;
  };
  for (const Case& c : {Case{"not found", {packet_bytes(1, "ANG"), {ENQ}}},
                        Case{"too large", {packet_bytes(1, "AFV123456"), {EOT}, {ENQ}}}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    std::ofstream(host, std::ios::binary) << "old";
    std::vector<Bytes> answers = {{ACK}, {ACK}};
    answers.insert(answers.end(), c.train.begin(), c.train.end());
    scripted_port::answer_units(with_consent(answers));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fetch_to_host_file("KEPT.TXT", host.c_str(), 5), exit_not_done);
    ::testing::internal::GetCapturedStderr();
    expect_only_the_old_copy();
  }
  // The device stops answering after its consent: "TimeOut" ends the run.
  scripted_port::reset();
  echo_enabled = false;
  open_port(1);
  scripted_port::answer_units(with_consent({}));
  EXPECT_EXIT(fetch_to_host_file("KEPT.TXT", host.c_str(), 5), ::testing::ExitedWithCode(1), "TimeOut\n$");
  expect_only_the_old_copy();
}

// A verified fetch (-g -v) reads the device file twice and saves it only
// when both reads hold the same bytes; reads that differ are settled by a
// third, and the file saved is the one two reads agree on, or else the
// bytes two of the three agree on at each place. Where no two agree, or the
// reads differ in length, nothing is saved and no scratch file is left in
// the folder.
TEST_F(HostFileTransfers, AVerifiedFetchSavesOnlyWhatTwoReadsAgreeOn) {
  fs::path host = folder / "f.bin";
  auto read_of = [](const std::string& data) {
    return with_consent({{ACK}, {ACK}, packet_bytes(1, "AFV" + data), {EOT}, {ENQ}});
  };
  struct Case {
    const char* what;
    std::vector<std::string> reads;
    int exit_code;
    const char* saved;  // null: the old file stays
    bool third_read;
  };
  for (const Case& c : {Case{"two alike", {"right", "right"}, exit_done, "right", false},
                        Case{"the second read wrong", {"right", "wrong", "right"}, exit_done, "right", true},
                        Case{"the first read wrong", {"wrong", "right", "right"}, exit_done, "right", true},
                        Case{"each read wrong in another place", {"light", "rieht", "righT"}, exit_done, "right",
                             true},
                        Case{"no two alike", {"one", "two", "six"}, exit_not_done, nullptr, true},
                        Case{"reads of three lengths", {"right", "righ", "rig"}, exit_not_done, nullptr, true}}) {
    SCOPED_TRACE(c.what);
    scripted_port::reset();
    echo_enabled = false;
    open_port(1);
    std::ofstream(host, std::ios::binary) << "old";
    std::vector<Bytes> answers;
    for (const std::string& read : c.reads) {
      for (const Bytes& answer : read_of(read)) answers.push_back(answer);
    }
    scripted_port::answer_units(answers);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(fetch_to_host_file("F.BIN", host.c_str(), 100, true), c.exit_code);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(contents_of(host), c.saved != nullptr ? c.saved : "old");
    EXPECT_EQ(err.find("F.BIN: the two reads differ, reading it a third time\n") != std::string::npos, c.third_read)
        << err;
    if (c.saved == nullptr) {
      EXPECT_NE(err.find("F.BIN: read three times, no two reads alike: not saved\n"), std::string::npos) << err;
    }
    const bool voted = c.reads.size() == 3 && c.reads[0] != c.reads[2] && c.reads[1] != c.reads[2] && c.saved;
    EXPECT_EQ(err.find("F.BIN: read three times; saved as two of the reads agree at each byte\n") != std::string::npos,
              voted)
        << err;
    std::size_t requests = 0;
    for (const Bytes& unit : scripted_port::written_units()) {
      requests += unit == packet_bytes(1, std::string("RFV\x65\x00\x00S1:F.BIN\0", 15));
    }
    EXPECT_EQ(requests, c.reads.size());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator{}), 1);
  }
}

// A fetch without -v over a line that damaged two Packets is read again as
// -v does: a line that flips bits that often may have flipped two alike
// that no sum shows. Here the Packet sent again after two NAKs reaches the
// host altered behind a sound sum; the second and third reads come clean,
// and what two reads agree on is saved. One damaged Packet, or a clean
// line, reads once.
TEST_F(HostFileTransfers, AFetchThatMetDamageIsReadAgainAndWhatItsSumMissedIsNotSaved) {
  fs::path host = folder / "f.bin";
  Bytes damaged = packet_bytes(1, "AFVright");
  damaged.back() ^= 0x5A;
  std::vector<Bytes> answers =
      with_consent({{ACK}, {ACK}, damaged, damaged, packet_bytes(1, "AFVrigid"), {EOT}, {ENQ}});
  for (int read = 0; read < 2; ++read) {
    for (const Bytes& answer : with_consent({{ACK}, {ACK}, packet_bytes(1, "AFVright"), {EOT}, {ENQ}})) {
      answers.push_back(answer);
    }
  }
  scripted_port::answer_units(answers);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fetch_to_host_file("F.BIN", host.c_str(), 100), exit_done);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(contents_of(host), "right");
  EXPECT_NE(err.find("F.BIN: the line damaged Packets on the way: reading it again to compare\n"), std::string::npos)
      << err;
  EXPECT_NE(err.find("F.BIN: the two reads differ, reading it a third time\n"), std::string::npos) << err;

  scripted_port::reset();
  echo_enabled = false;
  open_port(1);
  scripted_port::answer_units(with_consent({{ACK}, {ACK}, damaged, packet_bytes(1, "AFVclean"), {EOT}, {ENQ}}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fetch_to_host_file("F.BIN", host.c_str(), 100), exit_done);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(contents_of(host), "clean");
  EXPECT_EQ(err.find("reading it again"), std::string::npos) << err;
  std::size_t requests = 0;
  for (const Bytes& unit : scripted_port::written_units()) requests += unit.size() > 5 && unit[5] == 'R';
  EXPECT_EQ(requests, 1u);
}

}  // namespace
