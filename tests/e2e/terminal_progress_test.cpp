// The programs' progress on a UTF-8 terminal, as a person there sees it:
// one progress line instead of the marks, fitted to the terminal's width
// and counting the retries, and the notice while the device is silent. What
// a pipe gets is checked byte for byte by the other end-to-end tests.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "support/e2e.h"
#include "support/on_terminal.h"

namespace {

TEST_F(OnTerminal, ASendShowsUtf8MessagesAndOneProgressLineInsteadOfMarks) {
  write_file(host + "/memo.txt", std::string(2000, 'm'));
  RunResult result = run("qvcopy", {"memo.txt"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out.rfind(program_title("qvcopy", "ZAURUS ファイルダイレクト転送"), 0), 0u) << result.out;
  EXPECT_TRUE(contains(result.out, "\rmemo.txt  2.0 KiB / 2.0 KiB  100%")) << result.out;
  EXPECT_FALSE(contains(result.out, "oo")) << result.out;
  // The closing word follows on a line of its own, not glued to the progress.
  EXPECT_TRUE(contains(result.out, "100%\n end\n") || contains(result.out, "left\n end\n")) << result.out;
  EXPECT_EQ(read_file(emulator.storage_dir + "/memo.txt"), std::string(2000, 'm'));
}

TEST_F(OnTerminal, AFetchCountsTheBytesThatCame) {
  emulator = start_emulator();
  write_file(emulator.storage_dir + "/BIG.BIN", std::string(3000, 'b'));
  RunResult result = run_device_program_on_terminal(emulator, "qvcopy", {"-g", "BIG.BIN"}, in_locale("ja_JP.UTF-8", host));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(contains(result.out, "\rBIG.BIN  2.9 KiB")) << result.out;
  EXPECT_FALSE(contains(result.out, "oo")) << result.out;
  EXPECT_EQ(read_file(host + "/BIG.BIN"), std::string(3000, 'b'));
}

TEST_F(OnTerminal, ANarrowTerminalGetsALineThatNeverWrapsAndCountsTheRetries) {
  const std::string name = "a-file-name-far-too-long-to-share-one-line-with-the-figures-terminal.txt";
  write_file(host + "/" + name, std::string(2000, 'n'));
  emulator = start_emulator({"--nak-data", "2"});
  RunOptions options = in_locale("ja_JP.UTF-8", host);
  options.terminal_columns = 80;
  RunResult result = run_device_program_on_terminal(emulator, "qvcopy", {name}, options);
  EXPECT_EQ(result.exit_code, 0) << result.out;
  // Every rewrite of the line, blanks included, keeps off the last column.
  for (std::size_t start = result.out.find('\r'); start != std::string::npos; start = result.out.find('\r', start)) {
    ++start;
    std::size_t end = result.out.find_first_of("\r\n", start);
    if (end == std::string::npos) end = result.out.size();
    EXPECT_LE(end - start, 79u) << result.out.substr(start, end - start);
  }
  // Its front goes first, its end stays.
  EXPECT_TRUE(contains(result.out, "\r...")) << result.out;
  EXPECT_TRUE(contains(result.out, "-terminal.txt  2.0 KiB / 2.0 KiB  100%")) << result.out;
  EXPECT_TRUE(contains(result.out, "  1 retry")) << result.out;
  EXPECT_EQ(read_file(emulator.storage_dir + "/" + name), std::string(2000, 'n'));
}

TEST_F(OnTerminal, ASilentCableDeviceShowsTheWaitBeforeTheTimeOut) {
  RunResult result = run("qvdir", {}, {"--silent-after", "0"});
  EXPECT_EQ(result.exit_code, 1);
  std::size_t notice = result.out.find("waiting for the device... (no answer; gives up after 10 s)");
  ASSERT_NE(notice, std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\nTimeOut\n", notice), std::string::npos) << result.out;
}

TEST_F(OnTerminal, ASilentRelayTellsHowToStopTheWait) {
  emulator = start_emulator({"--relay", "--silent-after", "0"});
  RunOptions options = in_locale("ja_JP.UTF-8", host);
  options.interrupt_when_output_has = "Ctrl-C stops)";
  RunResult result = run_device_program_on_terminal(emulator, "qvdir", {"-s2"}, options);
  EXPECT_TRUE(contains(result.out, "waiting for the device... (keeps trying; Ctrl-C stops)")) << result.out;
  EXPECT_EQ(result.exit_code, 130);
  // The interrupt's line does not run on from the notice.
  std::size_t interrupted = result.out.find("Interrupted");
  ASSERT_NE(interrupted, std::string::npos) << result.out;
  ASSERT_GT(interrupted, 0u);
  EXPECT_EQ(result.out[interrupted - 1], '\n') << result.out;
}

TEST_F(OnTerminal, TheLogToolShowsItsSlotsProgressAndUtf8Text) {
  write_file(host + "/memo.txt", std::string(600, 'l'));
  RunResult result = run("qvcomlog", {"-c3", "memo.txt"});
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_EQ(result.out.rfind(program_title("qvcomlog", "ZAURUSネットファイル転送"), 0), 0u) << result.out;
  EXPECT_TRUE(contains(result.out, "\rCOM3.LOG  625 B / 625 B  100%")) << result.out;
  EXPECT_TRUE(contains(result.out, "100%\n end\n") || contains(result.out, "left\n end\n")) << result.out;
  EXPECT_FALSE(contains(result.out, "oo")) << result.out;
}

TEST_F(OnTerminal, RelayRetriesAndTheWaitShowInTheProgressLineWithTheNameKept) {
  // The device's first data frame is damaged (one retry), then it falls silent
  // in the middle of its data: the line keeps the name, the figures that
  // fit and the notice, at 100 and at 60 columns.
  using Width = std::pair<unsigned short, std::string>;
  for (const auto& [columns, notice] : {Width{100, "  1 retry  waiting for the device... (keeps trying; Ctrl-C stops)"},
                                        Width{60, "  1 retry  no answer; retrying, Ctrl-C stops"}}) {
    SCOPED_TRACE(columns);
    emulator = start_emulator({"--relay", "--relay-bad-checksum", "8", "--drop-at", "3"});
    write_file(emulator.storage_dir + "/BIG.BIN", std::string(3000, 'b'));
    RunOptions options = in_locale("ja_JP.UTF-8", host);
    options.terminal_columns = columns;
    options.interrupt_when_output_has = "Ctrl-C stops";
    RunResult result = run_device_program_on_terminal(emulator, "qvcopy", {"-s2", "-g", "BIG.BIN"}, options);
    trace = stop_emulator(emulator);
    EXPECT_EQ(result.exit_code, 130) << result.out;
    const std::size_t shown = result.out.find(notice);
    ASSERT_NE(shown, std::string::npos) << result.out;
    const std::size_t line = result.out.rfind('\r', shown);
    ASSERT_NE(line, std::string::npos) << result.out;
    EXPECT_TRUE(std::regex_match(result.out.substr(line, shown - line),
                                 std::regex("\rBIG\\.BIN  [0-9]+ B(  [0-9.]+ (B|KiB)/s)?")))
        << result.out;
  }
}

TEST_F(OnTerminal, ADeviceThatVanishesMidTransferGetsItsPortErrorBelowTheProgressLine) {
  emulator = start_emulator({"--drop-at", "3"});
  write_file(emulator.storage_dir + "/BIG.BIN", std::string(3000, 'b'));
  RunOptions options = in_locale("ja_JP.UTF-8", host);
  options.interrupt_when_output_has = "waiting for the device";
  options.interrupt_pid = emulator.pid;
  options.interrupt_signal = SIGKILL;
  RunResult result = run_device_program_on_terminal(emulator, "qvcopy", {"-g", "BIG.BIN"}, options);
  int status = 0;
  waitpid(emulator.pid, &status, 0);
  close(emulator.stdout_fd);
  emulator.pid = -1;
  EXPECT_EQ(result.exit_code, 1) << result.out;
  EXPECT_TRUE(contains(result.out, "waiting for the device... (no answer; gives up after 10 s)\nr-error=5\n"))
      << result.out;
  EXPECT_TRUE(result.out.ends_with("\nTimeOut\n")) << result.out;
}

}  // namespace
