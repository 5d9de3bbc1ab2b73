// Every device program in link mode 2, through the emulated optical relay
// adapter: the same PC-link units as on a cable, each in a relay frame of
// the exact form, also with every frame fault at once.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <tuple>
#include <vector>

#include "support/e2e.h"
#include "support/file_session.h"
#include "support/relay_session.h"

namespace {

using namespace relay_e2e;

// The 15 header bytes our frames carry before the payload.
std::string frame_header(std::size_t length) {
  return std::string(5, '\0') + "\x96\x81\x10\xFF\xFF\x01\x40\xFE" + static_cast<char>(length & 0xFF) +
         static_cast<char>(length >> 8);
}

// Every block the host sent is a control block or a frame of exactly our
// form, and the frames' payloads, in order, are the host's units (so no
// frame was sent twice).
void expect_host_blocks_well_formed(const std::string& trace) {
  std::string payloads;
  for (const Block& block : relay_blocks(trace)) {
    if (block.side != 'h') continue;
    const std::string& bytes = block.bytes;
    if (bytes.size() == 8) {
      EXPECT_EQ(bytes.substr(0, 7), std::string(5, '\0') + "\x96\x82") << to_hex(bytes);
      continue;
    }
    ASSERT_GE(bytes.size(), 17u) << to_hex(bytes);
    std::size_t length = static_cast<unsigned char>(bytes[13]) + 256u * static_cast<unsigned char>(bytes[14]);
    ASSERT_EQ(bytes.size(), 17 + length);
    EXPECT_EQ(bytes.substr(0, 15), frame_header(length));
    unsigned sum = 0;
    for (unsigned char byte : bytes.substr(15, length)) sum += byte;
    EXPECT_EQ(static_cast<unsigned char>(bytes[15 + length]), sum & 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[16 + length]), (sum >> 8) & 0xFF);
    payloads += bytes.substr(15, length);
  }
  EXPECT_EQ(to_hex(payloads), to_hex(host_bytes(trace)));
}

// A program over the relay puts the same PC-link units on the line as over
// the cable, and ends the same way.
void expect_same_units_as_cable(const FileSession& relay, const FileSession& cable_run) {
  EXPECT_EQ(relay.run.exit_code, cable_run.run.exit_code) << relay.run.err;
  EXPECT_EQ(relay.run.out, cable_run.run.out);
  EXPECT_EQ(to_hex(host_bytes(relay.trace)), to_hex(host_bytes(cable_run.trace)));
  EXPECT_EQ(to_hex(device_bytes(relay.trace)), to_hex(device_bytes(cable_run.trace)));
  expect_clean_line(relay);
}

std::vector<Job> program_jobs(const std::string& file) {
  return {
      {"qvrestart", {"-r"}, {}, {}, nullptr, nullptr},
      {"qvcopy", {"up.bin", "UP.BIN"}, {}, {{"up.bin", file}}, "UP.BIN", nullptr},
      {"qvcopy", {"-g", "DOWN.BIN", "down.bin"}, {{"DOWN.BIN", file}}, {}, nullptr, "down.bin"},
      {"qvdir", {}, {{"A.TXT", "a"}, {"B.BIN", file}}, {}, nullptr, nullptr},
      {"qvcomlog", {"-c3", "log.txt"}, {}, {{"log.txt", file}}, "COM3.LOG", nullptr},
      {"qvcomlog", {"-g", "-c4", "log.bin"}, {{"COM4.LOG", file}}, {}, nullptr, "log.bin"},
      {"qvinstall", {"-q", "hello.bas"}, {}, {{"hello.bas", file}}, "HELLO.BAS", nullptr},
      {"qvinstall",
       {"hello.zrs"},
       {},
       {{"hello.zrs", "ZRS,P,Hello\r\nnotes\r\nhello.bas\r\nhello.dat\r\n"}, {"hello.bas", "10 PRINT\r\n"},
        {"hello.dat", file}},
       "HELLO.DAT",
       nullptr},
  };
}

// Runs the job over the link and checks it did what it does over the cable.
FileSession expect_job_done_as_by_cable(const Job& job, const Link& link, const FileSession& by_cable,
                                        const std::string& file, const std::vector<std::string>& faults = {}) {
  FileSession relayed = run_over(link, job.program, job.args, job.device_files, job.host_files, faults);
  EXPECT_EQ(relayed.run.exit_code, 0) << relayed.run.err;
  expect_same_units_as_cable(relayed, by_cable);
  if (job.stored) {
    EXPECT_TRUE(file_exists(relayed.storage + "/" + job.stored));
    EXPECT_TRUE(read_file(relayed.storage + "/" + job.stored) == read_file(by_cable.storage + "/" + job.stored));
  }
  if (job.fetched) {
    EXPECT_TRUE(read_file(relayed.host + "/" + job.fetched) == file);
  }
  return relayed;
}

TEST(RelayLine, TheResetIsFiveHostUnitsEachInItsOwnFrame) {
  FileSession session = run_over(relay_echoing, "qvrestart", {"-r"});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  std::string cle = from_hex("01 01 FE 03 00 43 4C 45 D4 00");
  std::vector<std::string> host_blocks;
  for (const Block& block : relay_blocks(session.trace)) {
    if (block.side == 'h') host_blocks.push_back(to_hex(block.bytes));
  }
  auto frame = [](const std::string& unit) {
    unsigned sum = 0;
    for (unsigned char byte : unit) sum += byte;
    return to_hex(frame_header(unit.size()) + unit + static_cast<char>(sum & 0xFF) + static_cast<char>(sum >> 8));
  };
  // Sending: ENQ block, frame. Receiving: SYN block, ACK block.
  std::vector<std::string> expected;
  auto send = [&](const std::string& unit) { expected.insert(expected.end(), {to_hex(enq_block), frame(unit)}); };
  auto receive = [&]() { expected.insert(expected.end(), {to_hex(syn_block), to_hex(ack_block)}); };
  send(cle);
  receive();
  send("\x04");
  receive();
  send("\x05");
  receive();
  send("\x06");
  receive();
  send("\x06");
  receive();
  // The host closes the port right after its last ACK block, and a
  // pseudo-terminal may drop what the host wrote just before it closed: the
  // emulator need not have seen that block.
  if (host_blocks.size() + 1 == expected.size()) expected.pop_back();
  EXPECT_EQ(host_blocks, expected);
  EXPECT_EQ(frame(cle), "00 00 00 00 00 96 81 10 FF FF 01 40 FE 0A 00 01 01 FE 03 00 43 4C 45 D4 00 AB 02");
  expect_clean_line(session);
}

TEST(RelayPrograms, EveryProgramSaysTheSameOverTheRelayAsOverTheCable) {
  const std::string file = file_of(1000);
  for (const Job& job : program_jobs(file)) {
    FileSession by_cable = run_over(cable, job.program, job.args, job.device_files, job.host_files);
    for (const Link* link : {&relay_echoing, &relay_quiet}) {
      SCOPED_TRACE(job_name(job, *link));
      FileSession relayed = expect_job_done_as_by_cable(job, *link, by_cable, file);
      EXPECT_EQ(relayed.run.err, by_cable.run.err);
      expect_host_blocks_well_formed(relayed.trace);
    }
  }
}

// Every program over each relay link, with every frame fault at once. Low
// counts, so that even the five frames of each side of a reset meet every
// fault. One test per program and link: each waits out the relay's repeats
// in real time, so that they run side by side under ctest.
class EveryFrameFault : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(EveryFrameFault, TheProgramSurvivesEveryFrameFaultAtOnce) {
  const auto [job_index, echo] = GetParam();
  const Link& link = echo ? relay_echoing : relay_quiet;
  const std::vector<std::string> faults = {"--relay-bad-checksum", "2", "--relay-wrong-kind",  "3",
                                           "--relay-wrong-number", "4", "--relay-lose-syn",    "2",
                                           "--relay-lose-ack",     "3", "--relay-short-sync"};
  const std::string file = file_of(700);
  const Job job = program_jobs(file).at(static_cast<std::size_t>(job_index));
  SCOPED_TRACE(job_name(job, link));
  FileSession by_cable = run_over(cable, job.program, job.args, job.device_files, job.host_files);
  FileSession relayed = expect_job_done_as_by_cable(job, link, by_cable, file, faults);
  int fired = 0;
  for (const std::string& event : trace_events(relayed.trace)) fired += event.rfind("fault: relay", 0) == 0;
  EXPECT_EQ(fired, 5);
  for (const char* message : {"opt check sum error\n", "Packet format error\n", "packet number error\n"}) {
    EXPECT_NE(relayed.run.err.find(message), std::string::npos) << relayed.run.err;
  }
}

// "qvcopy_1_WithEcho": the program, its place among the jobs, the link.
std::string frame_fault_case_name(const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
  const auto [job_index, echo] = info.param;
  return std::string(program_jobs("").at(static_cast<std::size_t>(job_index)).program) + "_" +
         std::to_string(job_index) + (echo ? "_WithEcho" : "_WithoutEcho");
}

INSTANTIATE_TEST_SUITE_P(RelayPrograms, EveryFrameFault,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(program_jobs("").size())),
                                            ::testing::Bool()),
                         frame_fault_case_name);

}  // namespace
