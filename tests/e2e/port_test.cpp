// The port as a user meets it: why it cannot be opened, stale bytes on the
// line, and the line left as it was found after a run and an interrupt.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "support/e2e.h"
#include "support/e2e_wine.h"

namespace {

const std::string reset_command = from_hex("01 01 FE 03 00 43 4C 45 D4 00");

// A line of the test's own; the test plays the device on the master.
struct OwnLine {
  int master = -1;
  int slave = -1;  // held open, so that the line lives between programs
  Emulator port;   // only its pty_path, for run_device_program
  OwnLine() {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
    // Not inherited by the program, or its copies would keep the line up.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    port.pty_path = ttyname(slave);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
  }
  ~OwnLine() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
};

// The two lines are the run's last word: no failed write, no "TimeOut",
// no notice that the program is waiting, and no wait.
TEST(PortOpen, AMissingPortIsNamedInTwoLinesAndTheRunEndsAtOnce) {
  Emulator missing;
  missing.pty_path = "/nonexistent/tty";
  // As "qvdir > list.txt": the list file must stay empty.
  const auto started = std::chrono::steady_clock::now();
  RunResult run = run_device_program(missing, "qvdir", {});
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("port open error\n/nonexistent/tty: no such port\n"), std::string::npos) << run.err;
  const std::size_t banner_end = run.err.find('\n');
  ASSERT_NE(banner_end, std::string::npos);
  const std::string after_banner = run.err.substr(banner_end + 1);
  EXPECT_EQ(std::count(after_banner.begin(), after_banner.end(), '\n'), 2) << run.err;
  EXPECT_TRUE(after_banner.ends_with(": no such port\n")) << run.err;
  EXPECT_EQ(run.out, "");
  // Under Wine the start of the program alone may take longer.
  if (!wine_mode()) {
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
  }
}

// COM<n> is taken for /dev/ttyS<n-1> where ports have other names, and a
// name typed without /dev/ is likely meant with it: each is said.
TEST(PortOpen, AComNameOrANameWithoutItsFolderIsToldWhatItMeans) {
  if (wine_mode()) GTEST_SKIP() << "Windows names its ports COM<n> itself";
  RunOptions in_empty_folder;
  in_empty_folder.working_dir = make_temp_dir();
  RunResult com = run_program("qvrestart", {"-d", "COM200", "-r"}, in_empty_folder);
  EXPECT_EQ(com.exit_code, 1);
  EXPECT_TRUE(com.err.ends_with("\nport open error\nCOM200: no such port (COM200 is /dev/ttyS199 here)\n")) << com.err;
  RunResult bare = run_program("qvrestart", {"-dtty", "-r"}, in_empty_folder);
  EXPECT_EQ(bare.exit_code, 1);
  EXPECT_TRUE(bare.err.ends_with("\nport open error\ntty: no such port; did you mean /dev/tty?\n")) << bare.err;
}

TEST(PortOpen, APortHeldByAnotherProgramIsSaidToBe) {
  if (wine_mode()) GTEST_SKIP() << "Wine does not see the lock of a Linux program";
  OwnLine line;
  ASSERT_GE(line.slave, 0);
  int other = open(line.port.pty_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  RunResult run = run_device_program(line.port, "qvrestart", {"-r"});
  close(other);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("port open error\n" + line.port.pty_path + ": the port is held by another program\n"),
            std::string::npos)
      << run.err;
}

TEST(PortOpen, AUserOutsideTheDevicesGroupIsToldHowToJoinIt) {
  const group* dialout = getgrnam("dialout");
  if (wine_mode() || geteuid() != 0 || dialout == nullptr) {
    GTEST_SKIP() << "needs root, a dialout group and the Linux programs";
  }
  OwnLine line;
  ASSERT_GE(line.slave, 0);
  ASSERT_EQ(chown(line.port.pty_path.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(chmod(line.port.pty_path.c_str(), 0660), 0);
  RunOptions as_nobody;
  as_nobody.user_id = 65534;
  RunResult run = run_device_program(line.port, "qvrestart", {"-r"}, as_nobody);
  EXPECT_EQ(run.exit_code, 1) << run.err;
  EXPECT_NE(run.err.find("port open error\n" + line.port.pty_path +
                         ": no permission to use the port; join the group dialout "
                         "(sudo usermod -aG dialout $USER), then log in again\n"),
            std::string::npos)
      << run.err;
}

TEST(PortOpen, AnOrdinaryFileGivenAsThePortIsRefusedAndLeftUntouched) {
  const std::string dir = make_temp_dir();
  Emulator not_a_port;
  not_a_port.pty_path = dir + "/notes.txt";
  write_file(not_a_port.pty_path, "my notes\n");
  RunResult run = run_device_program(not_a_port, "qvrestart", {"-r"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("port open error\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(": not a serial port\n"), std::string::npos) << run.err;
  EXPECT_EQ(read_file(not_a_port.pty_path), "my notes\n");
}

// The same file named as a user types it after -d, not through a port
// mapping: a drive path on Windows (an absolute path elsewhere), or a name in
// the current folder.
TEST(PortOpen, AnOrdinaryFileNamedLiterallyWithDIsRefusedAndLeftUntouched) {
  const std::string dir = make_temp_dir();
  write_file(dir + "/notes.txt", "my notes\n");
  std::string absolute = dir + "/notes.txt";
  if (wine_mode()) {
    std::replace(absolute.begin(), absolute.end(), '/', '\\');
    absolute = "Z:" + absolute;
  }
  RunOptions in_dir;
  in_dir.working_dir = dir;
  for (const std::string& name : {absolute, std::string("notes.txt")}) {
    SCOPED_TRACE(name);
    RunResult run = run_program("qvrestart", {"-d", name, "-r"}, in_dir);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("port open error\n" + name + ": not a serial port\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("TimeOut\n"), std::string::npos) << run.err;
    EXPECT_EQ(read_file(dir + "/notes.txt"), "my notes\n");
  }
}

// Bytes that reached the port before the program opened it (the end of
// an earlier session, line noise) are no answer to anything it sends.
TEST(StaleInput, AcksWaitingOnTheLineBeforeTheOpenAreNotTakenForTheDevices) {
  OwnLine line;
  ASSERT_GE(line.slave, 0);
  ASSERT_EQ(write(line.master, "\x06\x06", 2), 2);
  pollfd queued{line.slave, POLLIN, 0};
  ASSERT_EQ(poll(&queued, 1, 2000), 1);

  // The device takes the reset command and says nothing; a host that read
  // the stale ACKs as answers sends its EOT at once.
  std::future<std::string> device = std::async(std::launch::async, [&] {
    std::string seen;
    int wait_ms = 20000;
    pollfd host{line.master, POLLIN, 0};
    char byte = 0;
    while (poll(&host, 1, wait_ms) == 1 && read(line.master, &byte, 1) == 1) {
      seen += byte;
      // Once the command is whole, anything more must come soon to count.
      if (seen.size() >= reset_command.size()) wait_ms = 1500;
    }
    close(line.master);  // hung up: the host's wait for an ACK fails now
    line.master = -1;
    return seen;
  });
  RunResult run = run_device_program(line.port, "qvrestart", {"-C", "-r"});
  EXPECT_EQ(to_hex(device.get()), to_hex(reset_command));
  EXPECT_EQ(run.exit_code, 1) << run.err;
}

std::vector<std::string> entries_of(const std::string& dir) {
  std::vector<std::string> names;
  DIR* listing = opendir(dir.c_str());
  while (const dirent* entry = listing != nullptr ? readdir(listing) : nullptr) {
    if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.push_back(entry->d_name);
  }
  if (listing != nullptr) closedir(listing);
  return names;
}

// The terminal a user might give with -d: cooked, 2400 baud.
termios make_a_users_terminal(int fd) {
  termios line{};
  tcgetattr(fd, &line);
  line.c_lflag |= ICANON | ISIG | IEXTEN;
  line.c_iflag |= ICRNL | IXON;
  line.c_oflag |= OPOST;
  cfsetispeed(&line, B2400);
  cfsetospeed(&line, B2400);
  tcsetattr(fd, TCSANOW, &line);
  tcgetattr(fd, &line);
  return line;
}

void expect_line_as_found(int fd, const termios& found) {
  termios now{};
  ASSERT_EQ(tcgetattr(fd, &now), 0);
  EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&found));
  EXPECT_EQ(cfgetispeed(&now), cfgetispeed(&found));
  // Wine sets CLOCAL on every serial line it opens and keeps the terminal's
  // other settings to itself; a Windows program cannot put them back.
  const tcflag_t wine_own = wine_mode() ? CLOCAL : 0;
  EXPECT_EQ(now.c_cflag & ~wine_own, found.c_cflag & ~wine_own);
  if (wine_mode()) return;
  EXPECT_EQ(now.c_lflag, found.c_lflag);
  EXPECT_EQ(now.c_iflag, found.c_iflag);
  EXPECT_EQ(now.c_oflag, found.c_oflag);
}

// The test holds the emulator's port open with a user's settings on it
// while each program runs.
TEST(LineRestored, AfterARunAndAnInterruptTheLineIsAsFound) {
  const std::string big(130000, '\x5A');
  struct Case {
    const char* what;
    std::vector<std::string> emulator_args;
    std::vector<std::string> program_args;
    RunOptions options;
    int exit_code;
  };
  RunOptions interrupted;
  interrupted.interrupt_when_output_has = ")\no";  // the first progress mark after the banner
  // A relay whose device never answers is waited for without end, mostly
  // inside a read of the port: the interrupt ends that wait.
  RunOptions interrupted_waiting;
  interrupted_waiting.interrupt_when_output_has = ")\n";
  interrupted_waiting.timeout_ms = 10000;
  for (Case& c : std::vector<Case>{
           {"a reset", {}, {"-r"}, {}, 0},
           {"Ctrl-C mid-fetch", {}, {"-g", "BIG.BIN"}, interrupted, 130},
           {"Ctrl-C while a silent relay is waited for", {"--relay", "--silent-after", "0"}, {"-s2", "-g", "BIG.BIN"},
            interrupted_waiting, 130},
       }) {
    SCOPED_TRACE(c.what);
    Emulator emulator = start_emulator(c.emulator_args);
    write_file(emulator.storage_dir + "/BIG.BIN", big);
    int holder = open(emulator.pty_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    termios found = make_a_users_terminal(holder);
    c.options.working_dir = make_temp_dir();
    const char* program = c.program_args[0] == "-r" ? "qvrestart" : "qvcopy";
    RunResult run = run_device_program(emulator, program, c.program_args, c.options);
    expect_line_as_found(holder, found);
    close(holder);
    const std::string trace = stop_emulator(emulator);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    if (c.exit_code == 130) {
      EXPECT_EQ(run.err.substr(run.err.size() - 12), "Interrupted\n");
      // The host marks each Packet before it answers it, and the marks the
      // pace held back are written before the interrupt's line: there are at
      // least as many as the device saw answered. (On Windows the handler
      // runs beside the program's thread, and stops it first.)
      const std::size_t banner_end = run.err.find(")\n");
      ASSERT_NE(banner_end, std::string::npos) << run.err;
      const std::string marks = run.err.substr(banner_end + 2, run.err.size() - 12 - banner_end - 2);
      EXPECT_EQ(marks.find_first_not_of('o'), std::string::npos) << run.err;
      EXPECT_GE(marks.size(), data_packets_answered(trace)) << run.err;
      // The fetch's temporary file, made before the request and open while
      // the data comes, went with the interrupt. On Windows the handler
      // deletes it from a thread of its own while the file is still open.
      EXPECT_EQ(entries_of(c.options.working_dir), std::vector<std::string>{});
    }
  }
}

// "qvdir | head": the reader is gone before the list is written, while the
// port is still open (the list is longer than the output's buffer). The run
// ends without a word, with 128 + SIGPIPE, and the line as it was found.
TEST(LineRestored, AReaderThatWentAwayEndsTheRunSilentlyWithTheLineAsFound) {
  if (wine_mode()) GTEST_SKIP() << "Windows has no SIGPIPE: a write to a closed pipe fails and the run goes on";
  Emulator emulator = start_emulator();
  for (int i = 0; i < 2000; ++i) write_file(emulator.storage_dir + "/FILE" + std::to_string(i) + ".TXT", "x");
  int holder = open(emulator.pty_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  termios found = make_a_users_terminal(holder);
  RunOptions unread;
  unread.output_unread = true;
  RunResult run = run_device_program(emulator, "qvdir", {}, unread);
  expect_line_as_found(holder, found);
  close(holder);
  stop_emulator(emulator);
  EXPECT_EQ(run.exit_code, 128 + SIGPIPE) << run.err;
  // The transfer's own last line is the last word.
  ASSERT_GE(run.err.size(), 5u);
  EXPECT_EQ(run.err.substr(run.err.size() - 5), " end\n");
}

}  // namespace
