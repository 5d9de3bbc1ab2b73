// Over the emulated relay adapter, the faults that could leave one side
// waiting for the other for ever: announcements that cross, a garbled unit
// in a sound frame, a damaged echo, -C forgotten on a line without echo, a
// line that hangs up. Each run is cut off well before the harness's own
// limit, so that a hang shows as a failure and not as a stuck test.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/e2e.h"
#include "support/file_session.h"
#include "support/relay_session.h"

namespace {

using namespace relay_e2e;

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
        expect_clean_line(crossed);
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
      expect_clean_line(damaged);
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
