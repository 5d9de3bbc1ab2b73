// Every device program in link mode 2, through the emulated optical relay
// adapter: the same PC-link units as on a cable, each in a relay frame of
// the exact form, and files that arrive byte for byte whatever happens to
// the frames on the way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include "support/e2e.h"
#include "support/file_session.h"

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

// One way to reach the device, and the options that choose it on each side.
struct Link {
  const char* name;
  std::vector<std::string> emulator;
  std::vector<std::string> program;
};

const Link cable{"cable", {}, {}};
const Link relay_echoing{"relay with echo", {"--relay"}, {"-s2"}};
const Link relay_quiet{"relay without echo", {"--relay", "--no-echo"}, {"-C", "-s2"}};

// Runs program over the link against a fresh device whose storage holds
// device_files, from a working folder holding host_files.
FileSession run_over(const Link& link, const std::string& program, const std::vector<std::string>& args,
                     const Files& device_files = {}, const Files& host_files = {},
                     const std::vector<std::string>& faults = {}, int timeout_ms = RunOptions{}.timeout_ms) {
  std::vector<std::string> program_args = link.program;
  program_args.insert(program_args.end(), args.begin(), args.end());
  std::vector<std::string> emulator_args = link.emulator;
  emulator_args.insert(emulator_args.end(), faults.begin(), faults.end());
  RunOptions options;
  options.timeout_ms = timeout_ms;
  return run_file_program(program, program_args, emulator_args, device_files, host_files, options);
}

// The relay blocks of a trace ("h" from the host, "d" from the device).
struct Block {
  char side;
  std::string bytes;
};

std::vector<Block> relay_blocks(const std::string& trace) {
  std::vector<Block> blocks;
  std::size_t start = 0;
  while (start < trace.size()) {
    std::size_t end = trace.find('\n', start);
    if (end == std::string::npos) end = trace.size();
    std::string line = trace.substr(start, end - start);
    start = end + 1;
    if (line.size() < 2 || (line[0] != 'h' && line[0] != 'd') || line[1] != ' ') continue;
    std::size_t bar = line.find(" | ");
    blocks.push_back({line[0], from_hex(line.substr(2, bar - 2))});
  }
  return blocks;
}

std::string control_block(char code) {
  return std::string(5, '\0') + "\x96\x82" + code;
}
const std::string enq_block = control_block('\x05');
const std::string syn_block = control_block('\x16');
const std::string ack_block = control_block('\x06');
const std::string nak_block = control_block('\x15');

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

int count_blocks(const std::string& trace, char side, const std::string& bytes) {
  int count = 0;
  for (const Block& block : relay_blocks(trace)) count += block.side == side && block.bytes == bytes;
  return count;
}

std::string file_of(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 253) & 0xFF);
  return bytes;
}

void expect_clean(const FileSession& session) {
  EXPECT_EQ(trace_violations(session.trace), std::vector<std::string>{});
}

// A program over the relay puts the same PC-link units on the line as over
// the cable, and ends the same way.
void expect_same_units_as_cable(const FileSession& relay, const FileSession& cable_run) {
  EXPECT_EQ(relay.run.exit_code, cable_run.run.exit_code) << relay.run.err;
  EXPECT_EQ(relay.run.out, cable_run.run.out);
  EXPECT_EQ(to_hex(host_bytes(relay.trace)), to_hex(host_bytes(cable_run.trace)));
  EXPECT_EQ(to_hex(device_bytes(relay.trace)), to_hex(device_bytes(cable_run.trace)));
  expect_clean(relay);
}

// One job of a device program, and the file it leaves on either side.
struct Job {
  const char* program;
  std::vector<std::string> args;
  Files device_files;
  Files host_files;
  const char* stored;   // a file the device must hold afterwards
  const char* fetched;  // a file the host must hold afterwards, equal to file
};

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

std::string job_name(const Job& job, const Link& link) {
  return std::string(job.program) + " " + (job.args.empty() ? "" : job.args[0]) + " over the " + link.name;
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
  expect_clean(session);
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

// A fault the emulated adapter injects into the frames, and what the host
// is to make of it.
struct FrameFault {
  std::vector<std::string> option;
  std::string message;  // printed by the host, or empty
  // The host's frame went out whole and its ACK block never came: the device
  // may have taken it, so a send is read back after its conversation.
  bool send_read_back = false;
};

// Each fault hits the N-th frame of its direction: the device's frames carry
// the fetched data, the host's frames the sent data.
const std::vector<FrameFault> device_frame_faults = {
    {{"--relay-bad-checksum", "9"}, "opt check sum error\n"},
    {{"--relay-wrong-kind", "9"}, "Packet format error\n"},
    {{"--relay-wrong-number", "9"}, "packet number error\n"},
    {{"--relay-short-sync"}, ""},
};
const std::vector<FrameFault> host_frame_faults = {
    {{"--relay-lose-syn", "8"}, ""},
    {{"--relay-lose-ack", "8"}, "UP.BIN: the line was not clean during the write; read back, the file is whole\n", true},
};

TEST(RelayFaults, EveryFileArrivesWholeWhateverHappensToTheFrames) {
  const std::string file = file_of(2000);
  std::vector<FrameFault> faults = device_frame_faults;
  faults.insert(faults.end(), host_frame_faults.begin(), host_frame_faults.end());
  FileSession send_by_cable = run_over(cable, "qvcopy", {"up.bin", "UP.BIN"}, {}, {{"up.bin", file}});
  FileSession fetch_by_cable = run_over(cable, "qvcopy", {"-g", "DOWN.BIN", "down.bin"}, {{"DOWN.BIN", file}});
  for (const Link* link : {&relay_echoing, &relay_quiet}) {
    for (const FrameFault& fault : faults) {
      SCOPED_TRACE(fault.option[0] + " over the " + link->name);
      FileSession up = run_over(*link, "qvcopy", {"up.bin", "UP.BIN"}, {}, {{"up.bin", file}}, fault.option);
      FileSession down = run_over(*link, "qvcopy", {"-g", "DOWN.BIN", "down.bin"}, {{"DOWN.BIN", file}}, {}, fault.option);
      EXPECT_EQ(up.run.exit_code, 0) << up.run.err;
      EXPECT_EQ(down.run.exit_code, 0) << down.run.err;
      EXPECT_TRUE(read_file(up.storage + "/UP.BIN") == file);
      EXPECT_TRUE(read_file(down.host + "/down.bin") == file);
      // The PC-link conversation is untouched: only frames were repeated.
      const std::string cable_send = host_bytes(send_by_cable.trace);
      const std::string relay_send = host_bytes(up.trace);
      EXPECT_EQ(to_hex(fault.send_read_back ? relay_send.substr(0, cable_send.size()) : relay_send),
                to_hex(cable_send));
      EXPECT_EQ(relay_send.size() > cable_send.size(), fault.send_read_back);
      EXPECT_EQ(to_hex(device_bytes(down.trace)), to_hex(device_bytes(fetch_by_cable.trace)));
      expect_clean(up);
      expect_clean(down);
      std::vector<std::string> events = trace_events(up.trace + down.trace);
      int fired = 0;
      for (const std::string& event : events) fired += event.rfind("fault: relay", 0) == 0;
      EXPECT_GE(fired, fault.option.size() > 1 ? 2 : 0);
      std::string messages = up.run.err + down.run.err;
      if (!fault.message.empty()) {
        EXPECT_NE(messages.find(fault.message), std::string::npos) << messages;
      }
    }
  }
}

TEST(RelayFaults, ADamagedFrameIsRefusedWithTheNakBlockAndTakenWhenSentAgain) {
  FileSession session = run_over(relay_echoing, "qvcopy", {"-g", "DOWN.BIN", "down.bin"}, {{"DOWN.BIN", file_of(600)}},
                             {}, {"--relay-bad-checksum", "8"});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_EQ(count_blocks(session.trace, 'h', nak_block), 1);
  EXPECT_NE(session.run.err.find("opt check sum error\n"), std::string::npos);
  // The NAK block answers the damaged frame, and the device's next ENQ block
  // brings the frame again.
  std::vector<Block> blocks = relay_blocks(session.trace);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (blocks[i].side == 'h' && blocks[i].bytes == nak_block) {
      ASSERT_GE(i, 1u);
      ASSERT_LT(i + 3, blocks.size());
      EXPECT_EQ(blocks[i - 1].side, 'd');
      EXPECT_EQ(blocks[i + 1].bytes, enq_block);
      EXPECT_EQ(blocks[i + 2].bytes, syn_block);
      std::string damaged = blocks[i - 1].bytes;
      std::string resent = blocks[i + 3].bytes;
      ASSERT_EQ(damaged.size(), resent.size());
      EXPECT_EQ(damaged.substr(0, damaged.size() - 2), resent.substr(0, resent.size() - 2));
    }
  }
}

TEST(RelayFaults, AFrameWhoseAckWasLostIsSentAgainWholeFromTheEnqBlock) {
  FileSession session = run_over(relay_echoing, "qvcopy", {"up.bin", "UP.BIN"}, {}, {{"up.bin", file_of(600)}},
                             {"--relay-lose-ack", "6"});
  EXPECT_EQ(session.run.exit_code, 0);
  std::vector<std::string> host_frames;
  for (const Block& block : relay_blocks(session.trace)) {
    if (block.side == 'h' && block.bytes.size() > 8) host_frames.push_back(block.bytes);
  }
  ASSERT_GE(host_frames.size(), 7u);
  EXPECT_EQ(host_frames[5], host_frames[6]);
  EXPECT_EQ(count_blocks(session.trace, 'h', enq_block), static_cast<int>(host_frames.size()));
  expect_clean(session);
}

TEST(RelayFaults, ControlBlocksAndFramesAfterOnlyTwoZeroBytesAreTaken) {
  FileSession session = run_over(relay_quiet, "qvdir", {}, {{"A.TXT", "a"}}, {}, {"--relay-short-sync"});
  EXPECT_EQ(session.run.exit_code, 0);
  EXPECT_NE(session.run.out.find("A.TXT"), std::string::npos) << session.run.out;
  EXPECT_EQ(count_blocks(session.trace, 'd', control_block('\x05')), 0);  // ours had two zero bytes only
  EXPECT_EQ(count_blocks(session.trace, 'h', nak_block), 0);
  expect_clean(session);
}

// Where the host never gave way, or the echo stuck, the run would hang:
// it is cut off well before the harness's own limit.
constexpr int hang_limit_ms = 20000;

FileSession run_bounded(const Link& link, const Job& job, const std::vector<std::string>& faults) {
  return run_over(link, job.program, job.args, job.device_files, job.host_files, faults, hang_limit_ms);
}

// A send and a fetch of the same file, and what each leaves behind.
std::vector<Job> send_and_fetch(const std::string& file) {
  return {{"qvcopy", {"up.bin", "UP.BIN"}, {}, {{"up.bin", file}}, "UP.BIN", nullptr},
          {"qvcopy", {"-g", "DOWN.BIN", "down.bin"}, {{"DOWN.BIN", file}}, {}, nullptr, "down.bin"}};
}

void expect_whole(const FileSession& session, const Job& job, const std::string& file) {
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  if (job.stored) {
    EXPECT_TRUE(read_file(session.storage + "/" + job.stored) == file);
  }
  if (job.fetched) {
    EXPECT_TRUE(read_file(session.host + "/" + job.fetched) == file);
  }
}

int events_starting(const std::string& trace, const std::string& start) {
  int count = 0;
  for (const std::string& event : trace_events(trace)) count += event.rfind(start, 0) == 0;
  return count;
}

TEST(RelayFaults, WhenBothSidesAnnounceAtOnceTheHostGivesWayAndTheUnitsGoOnce) {
  // Frame 1 is the command Packet, frame 5 an ACK or a data Packet.
  const std::string file = file_of(1500);
  for (const Job& job : send_and_fetch(file)) {
    FileSession by_cable = run_over(cable, job.program, job.args, job.device_files, job.host_files);
    for (const Link* link : {&relay_echoing, &relay_quiet}) {
      for (const char* frame : {"1", "5"}) {
        SCOPED_TRACE(job_name(job, *link) + ", crossed at host frame " + frame);
        FileSession crossed = run_bounded(*link, job, {"--relay-crossed-enq", frame});
        expect_whole(crossed, job, file);
        EXPECT_EQ(events_starting(crossed.trace, "fault: relay ACK block lost"), 1);
        // Neither side's unit was taken twice or lost.
        EXPECT_EQ(to_hex(host_bytes(crossed.trace)), to_hex(host_bytes(by_cable.trace)));
        EXPECT_EQ(to_hex(device_bytes(crossed.trace)), to_hex(device_bytes(by_cable.trace)));
        expect_clean(crossed);
      }
    }
  }
}

// A host frame whose sum collided over a damaged Packet reaches the device
// sound, its unit garbled: the device refuses it with NAK, the host sends
// the Packet again, and neither side is left waiting for the other (the
// host waits for a silent device without limit in link mode 2).
TEST(RelayFaults, AGarbledUnitInASoundFrameIsNakedAndSentAgain) {
  const std::string file = file_of(600);
  const Job send = send_and_fetch(file)[0];
  // Host frames: CFD, EOT, ENQ, ACK, ACK, the write request, data Packet 1.
  FileSession session = run_bounded(relay_quiet, send, {"--relay-garble", "7"});
  expect_whole(session, send, file);
  const std::vector<TraceUnit> units = trace_units(session.trace);
  std::size_t garbled = 0;
  while (garbled < units.size() && units[garbled].decoded.rfind("garbled unit", 0) != 0) ++garbled;
  ASSERT_LT(garbled + 2, units.size()) << session.trace;
  EXPECT_EQ(units[garbled + 1].decoded, "NAK");
  // The same data sent again, under the next number.
  EXPECT_EQ(units[garbled + 2].bytes.substr(5), units[garbled].bytes.substr(5));
  EXPECT_EQ(units[garbled + 2].bytes[1], '\x03');
}

TEST(RelayFaults, ADamagedEchoByteNeitherHangsTheRelayNorSwallowsTheDevicesBlocks) {
  // Byte 6 is the mark of the host's first ENQ block; byte 30 lies in the
  // first frame's payload; byte 200 somewhere later in the conversation.
  const std::string file = file_of(1500);
  for (const Job& job : send_and_fetch(file)) {
    for (const char* byte : {"6", "30", "200"}) {
      SCOPED_TRACE(job_name(job, relay_echoing) + ", echo of host byte " + byte + " damaged");
      FileSession damaged = run_bounded(relay_echoing, job, {"--relay-damage-echo", byte});
      expect_whole(damaged, job, file);
      EXPECT_EQ(events_starting(damaged.trace, "fault: relay echo"), 1);
      expect_clean(damaged);
    }
  }
}

// -C forgotten on a relay adapter without echo: the device's answer blocks
// look like the echo of ours but for their last byte, so the run would wait
// for ever. The second such block shows the line has no echo, and the job is
// done as with -C.
TEST(RelayFaults, ForgettingMinusCOnALineWithoutEchoIsNoticedAndTheJobIsDone) {
  const std::string file = file_of(1500);
  const Link forgotten{"relay without echo, -C forgotten", {"--relay", "--no-echo"}, {"-s2"}};
  for (const Job& job : send_and_fetch(file)) {
    SCOPED_TRACE(job_name(job, forgotten));
    FileSession session = run_bounded(forgotten, job, {});
    expect_whole(session, job, file);
    EXPECT_NE(session.run.err.find("no echo on the line: echo suppression off (-C)\n"), std::string::npos)
        << session.run.err;
    // The device's grants taken for echo: the host announced again where
    // the device waited for a frame, and nothing else went amiss.
    std::vector<std::string> violations = trace_violations(session.trace);
    EXPECT_LE(violations.size(), 2u);
    for (const std::string& violation : violations) EXPECT_EQ(violation, "expected a relay frame after SYN, got relay ENQ");
  }
}

// Plays a device that answers nothing and hangs up once the host has sent
// its first relay block. Returns when it hung up (or that the host never
// wrote).
std::optional<std::chrono::steady_clock::time_point> hang_up_after_first_block(int master) {
  std::string received;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (received.size() < 8 && std::chrono::steady_clock::now() < deadline) {
    pollfd host{master, POLLIN, 0};
    if (poll(&host, 1, 1000) != 1 || (host.revents & POLLIN) == 0) continue;
    char buffer[64];
    const ssize_t count = read(master, buffer, sizeof buffer);
    if (count > 0) received.append(buffer, static_cast<std::size_t>(count));
  }
  close(master);
  if (received.size() < 8) return std::nullopt;
  return std::chrono::steady_clock::now();
}

TEST(RelayPort, ALineHungUpMidRunEndsTheProgramWithinFiveSecondsAndFewLines) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  Emulator port;
  port.pty_path = ttyname(slave);
  close(slave);  // the program's own open keeps the terminal
  auto device = std::async(std::launch::async, hang_up_after_first_block, master);
  RunOptions options;
  options.timeout_ms = hang_limit_ms;
  RunResult run = run_device_program(port, "qvrestart", {"-s2", "-r"}, options);
  const auto ended = std::chrono::steady_clock::now();
  const auto hung_up = device.get();
  ASSERT_TRUE(hung_up.has_value()) << run.err;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - *hung_up).count(), 5000);
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_NE(run.err.find("TimeOut\n"), std::string::npos) << run.err;
  // One error line at most, not a flood of them.
  EXPECT_LT(run.out.size() + run.err.size(), 400u) << run.out << run.err;
}

TEST(RelayPort, AMissingPortEndsTheProgramAfterSayingWhy) {
  Emulator nowhere;
  nowhere.pty_path = make_temp_dir() + "/no-such-port";
  RunOptions options;
  options.timeout_ms = 5000;
  RunResult run = run_device_program(nowhere, "qvrestart", {"-s2", "-r"}, options);
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_NE(run.err.find("port open error\n"), std::string::npos) << run.err;
  EXPECT_TRUE(run.err.ends_with(": no such port\n")) << run.err;
}

}  // namespace
