// The programs as a person at a UTF-8 terminal sees them: messages in
// UTF-8, one progress line instead of the marks, device and archive text
// with its control bytes shown harmless, the waiting notice; and names
// typed in UTF-8 reaching the device in Shift-JIS. What a pipe gets is
// checked byte for byte by the other end-to-end tests.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "pclink/console.h"

#include "support/archive_writer.h"
#include "support/e2e.h"
#include "support/e2e_wine.h"
#include "support/file_session.h"

namespace {

class OnTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    // Under Wine a pseudo-terminal is a Windows console that adds cursor
    // sequences and line ends of its own around the text; WindowsConsole
    // below checks the text that reaches it there.
    if (wine_mode()) GTEST_SKIP() << "Wine's console reshapes the bytes";
    host = make_temp_dir();
  }
  void TearDown() override {
    if (emulator.pid > 0) trace = stop_emulator(emulator);
  }
  RunResult run(const std::string& program, std::vector<std::string> args, std::vector<std::string> emulator_args = {}) {
    emulator = start_emulator(std::move(emulator_args));
    RunResult result = run_device_program_on_terminal(emulator, program, std::move(args), in_locale("ja_JP.UTF-8", host));
    trace = stop_emulator(emulator);
    return result;
  }
  std::string host;
  Emulator emulator;
  std::string trace;
};

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

TEST_F(OnTerminal, TheDeviceListIsConvertedAndCannotDriveTheTerminal) {
  emulator = start_emulator();
  write_file(emulator.storage_dir + "/\x1b[2JWIPE.TXT", "w");
  write_file(emulator.storage_dir + "/" + sjis("メモ.TXT"), "m");
  RunResult result = run_device_program_on_terminal(emulator, "qvdir", {}, in_locale("ja_JP.UTF-8", host));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(contains(result.out, program_title("qvdir", "ZAURUS 内部リスト表示"))) << result.out;
  EXPECT_TRUE(contains(result.out, "通信中 しばらくお待ち下さい\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "\\x1b[2JWIPE.TXT 1\r\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "メモ.TXT 1\r\n")) << result.out;
  EXPECT_FALSE(contains(result.out, "\x1b")) << result.out;
}

TEST_F(OnTerminal, APackageTitleIsShownConvertedWithItsControlBytesEscaped) {
  write_file(host + "/hello.zrs", "ZRS,P," + sjis("サンプル") + " \x1b]0;owned\x07\r\n" + "hello.txt\r\nhello.bas\r\n");
  write_file(host + "/hello.txt", sjis("説明です") + "\r\n");
  write_file(host + "/hello.bas", "10 PRINT\r\n");
  RunResult result = run("qvinstall", {"hello.zrs"});
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_TRUE(contains(result.out, "タイトル サンプル \\x1b]0;owned\\x07\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "説明です\n--\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "\rhello.bas  10 B / 10 B  100%")) << result.out;
  EXPECT_TRUE(contains(result.out, "\n 終了\n送信完了 Zaurus本体を再起動します\n")) << result.out;
  EXPECT_FALSE(contains(result.out, "\x1b")) << result.out;
}

TEST_F(OnTerminal, ArchiveMemberNamesAreConvertedAndEscaped) {
  write_file(host + "/backup.txt",
             archive_writer::archive({{sjis("メモ.TXT"), "abc"}, {"A\x07" "B.TXT", "d"}}));
  RunResult result = run_program_on_terminal("qvunpack", {"-l", "backup.txt"}, in_locale("ja_JP.UTF-8", host));
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(contains(result.out, "qvunpack v1.4 バックアップファイルを切り出す")) << result.out;
  EXPECT_TRUE(contains(result.out, "       3  メモ.TXT\r\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "       1  A\\x07B.TXT\r\n")) << result.out;
  EXPECT_FALSE(contains(result.out, "\x07")) << result.out;
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

TEST_F(OnTerminal, TheResetToolSpeaksUtf8AlsoWhenTheResetIsRefused) {
  RunResult done = run("qvrestart", {"-r"});
  EXPECT_EQ(done.exit_code, 0) << done.out;
  // A person is told that the reset was done; a pipe gets the banner alone.
  EXPECT_EQ(done.out, program_title("qvrestart", "ZAURUS パソコンリンクリセット") + author_suffix +
                          "\nthe device's PC link was reset\n");
  RunResult refused = run("qvrestart", {"-r"}, {"--refuse"});
  EXPECT_EQ(refused.exit_code, 2) << refused.out;
  EXPECT_TRUE(contains(refused.out, "\nリセットに失敗しました\n")) << refused.out;
}

TEST_F(OnTerminal, ALocaleThatIsNotInstalledButNamedUtf8StillGetsUtf8) {
  emulator = start_emulator();
  RunResult result = run_device_program_on_terminal(emulator, "qvdir", {}, in_locale("ja_QQ.UTF-8", host));
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_TRUE(contains(result.out, program_title("qvdir", "ZAURUS 内部リスト表示"))) << result.out;
  EXPECT_TRUE(contains(result.out, "通信中 しばらくお待ち下さい\n")) << result.out;
}

TEST_F(OnTerminal, HostNamesOutsideTheLocalesSetShowConvertedFromShiftJisOrEscaped) {
  // A list written on a Shift-JIS system: メモ.bas is there, 無い.bas and a
  // name of no character set are not.
  write_file(host + "/" + sjis("メモ.bas"), "10 END\r\n");
  write_file(host + "/list.zrs", "ZRS,P,t\r\nnone\r\n" + sjis("メモ.bas") + "\r\n" + sjis("無い.bas") +
                                     "\r\n\xfd\xfe.bas\r\n");
  RunResult result = run("qvinstall", {"-D", "-R", "list.zrs"});
  EXPECT_EQ(result.exit_code, 2) << result.out;
  EXPECT_TRUE(contains(result.out, "\rメモ.bas  8 B / 8 B  100%")) << result.out;
  EXPECT_TRUE(contains(result.out, "\n無い.bas:送信ファイルがオープンできません\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "\n\\xfd\\xfe.bas:送信ファイルがオープンできません\n")) << result.out;
  EXPECT_FALSE(contains(result.out, "\xfd")) << result.out;
  EXPECT_EQ(read_file(emulator.storage_dir + "/" + sjis("メモ.BAS")), "10 END\r\n");
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

// A Japanese device name typed on the command line reaches the line in
// Shift-JIS: natively through the UTF-8 locale, under Wine from the command
// line as typed, since the ANSI code page there is not 932 and the ANSI
// arguments hold "?" in its place.
TEST(TypedDeviceName, AJapaneseNameReachesTheLineInShiftJisAndOneWithoutAFormIsRefused) {
  RunOptions options;
  options.environment = {"LC_ALL=C.UTF-8"};
  FileSession sent = run_file_program("qvcopy", {"memo.txt", "メモ2.txt"}, {}, {}, {{"memo.txt", "memo"}}, options);
  EXPECT_EQ(sent.run.exit_code, 0) << sent.run.err;
  EXPECT_TRUE(contains(host_bytes(sent.trace), packet(1, with_nul("RFDS1:" + sjis("メモ2.txt")))))
      << to_hex(host_bytes(sent.trace));
  EXPECT_EQ(read_file(sent.storage + "/" + sjis("メモ2.txt")), "memo");
  FileSession refused =
      run_file_program("qvcopy", {"memo.txt", "smile\xf0\x9f\x98\x80.txt"}, {}, {}, {{"memo.txt", "memo"}}, options);
  EXPECT_EQ(refused.run.exit_code, 2) << refused.run.err;
  EXPECT_TRUE(contains(refused.run.err, ": the device cannot store this name")) << refused.run.err;
  EXPECT_EQ(host_bytes(refused.trace), "");
}

// Under Wine a program on a pseudo-terminal gets a Windows console (Wine's
// console in its terminal mode): the console path writes through
// WriteConsoleW, which the terminal shows in UTF-8, while the same program
// piped writes its Shift-JIS bytes. The bytes around the text (cursor
// sequences, CR before LF) are the console's own and not looked at.
// The messages' language follows a locale variable set by hand, as under a
// Unix-like shell on Windows: LC_MESSAGES in Japanese, while LC_CTYPE keeps
// Wine's code pages as they are.
TEST(WindowsConsole, AConsoleGetsTheTextThroughWriteConsoleWAndAPipeTheShiftJisBytes) {
  if (!wine_mode()) GTEST_SKIP() << "a Windows console exists under Wine only";
  RunOptions options;
  options.environment = {"LC_ALL=", "LC_CTYPE=C.UTF-8", "LC_MESSAGES=ja_JP.UTF-8", "LANGUAGE="};
  const std::string title = program_title("qvrestart", "ZAURUS パソコンリンクリセット") + author_suffix;
  RunResult console = run_program_on_terminal("qvrestart", {}, options);
  EXPECT_EQ(console.exit_code, 2);
  EXPECT_TRUE(contains(console.out, title)) << console.out;
  RunResult piped = run_program("qvrestart", {}, options);
  EXPECT_EQ(piped.exit_code, 2);
  EXPECT_EQ(piped.err.rfind(sjis(title) + "\n", 0), 0u) << piped.err;
  // In an English locale the console gets English; a pipe the same bytes.
  options.environment = {"LC_ALL=C.UTF-8", "LANGUAGE="};
  RunResult english = run_program_on_terminal("qvrestart", {}, options);
  EXPECT_TRUE(contains(english.out, "ZAURUS PC link reset")) << english.out;
  EXPECT_EQ(run_program("qvrestart", {}, options).err, piped.err);
}

// Names typed in a UTF-8 shell: the locale decides, a terminal does not.
class TypedNames : public ::testing::Test {
 protected:
  void SetUp() override {
    // Wine gives a program its own ANSI code page, whatever the Linux locale.
    if (wine_mode()) GTEST_SKIP() << "Wine's code page does not follow LC_ALL";
  }
  FileSession copy(const std::string& locale, std::vector<std::string> args,
                   const std::vector<std::pair<std::string, std::string>>& device_files = {},
                   const std::vector<std::pair<std::string, std::string>>& host_files = {}) {
    return run_in_locale("qvcopy", locale, std::move(args), device_files, host_files);
  }
  FileSession run_in_locale(const std::string& program, const std::string& locale, std::vector<std::string> args,
                            const std::vector<std::pair<std::string, std::string>>& device_files,
                            const std::vector<std::pair<std::string, std::string>>& host_files) {
    RunOptions options;
    options.environment = {"LC_ALL=" + locale};
    return run_file_program(program, std::move(args), {}, device_files, host_files, options);
  }
};

TEST_F(TypedNames, AUtf8DeviceNameGoesOnTheLineInShiftJis) {
  FileSession session = copy("C.UTF-8", {"メモ2.txt"}, {}, {{"メモ2.txt", "memo"}});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_TRUE(contains(host_bytes(session.trace), packet(1, with_nul("RFDS1:" + sjis("メモ2.txt")))));
  EXPECT_EQ(read_file(session.storage + "/" + sjis("メモ2.txt")), "memo");
}

TEST_F(TypedNames, AFetchedFileKeepsTheNameAsTyped) {
  FileSession session = copy("C.UTF-8", {"-g", "メモ.TXT"}, {{sjis("メモ.TXT"), "fetched"}});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_EQ(read_file(session.host + "/メモ.TXT"), "fetched");
}

TEST_F(TypedNames, ANameShiftJisCannotHoldIsRefusedBeforeThePortOpens) {
  FileSession session = copy("C.UTF-8", {"caf\xc3\xa9\xf0\x9f\x98\x80.txt"}, {}, {{"caf\xc3\xa9\xf0\x9f\x98\x80.txt", "x"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_TRUE(contains(session.run.err, "caf\xc3\xa9\xf0\x9f\x98\x80.txt: the device cannot store this name"))
      << session.run.err;
  EXPECT_EQ(host_bytes(session.trace), "");
}

TEST_F(TypedNames, AListedUtf8NameReachesTheDeviceInShiftJisUpperCase) {
  // "ヂ" is 83 61 in Shift-JIS: its second byte is an "a" that must stay.
  FileSession session = run_in_locale("qvinstall", "C.UTF-8", {"-R", "p.zrs"}, {},
                                       {{"p.zrs", "ZRS,P,t\r\nnone\r\nヂa.bas\r\n"}, {"ヂa.bas", "10 END"}});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_EQ(read_file(session.storage + "/" + sjis("ヂA.BAS")), "10 END");
}

TEST_F(TypedNames, AnInstallerProgramNameShiftJisCannotHoldOpensNoPort) {
  FileSession session = run_in_locale("qvinstall", "C.UTF-8", {"-q", "\xf0\x9f\x98\x80.bas"}, {},
                                       {{"\xf0\x9f\x98\x80.bas", "x"}});
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_TRUE(contains(session.run.err, "the device cannot store this name")) << session.run.err;
  EXPECT_EQ(host_bytes(session.trace), "");
}

TEST_F(TypedNames, TheCLocalePassesNamesUntranslated) {
  FileSession session = copy("C", {"メモ3.txt"}, {}, {{"メモ3.txt", "raw"}});
  EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
  EXPECT_EQ(read_file(session.storage + "/メモ3.txt"), "raw");
}

}  // namespace
