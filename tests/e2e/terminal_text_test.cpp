// Text on a UTF-8 terminal: the messages in UTF-8, and device, archive and
// host names converted from Shift-JIS with their control bytes shown
// harmless; under Wine, the text a Windows console gets. What a pipe gets
// is checked byte for byte by the other end-to-end tests.
#include <gtest/gtest.h>

#include <string>

#include "pclink/console.h"

#include "support/archive_writer.h"
#include "support/e2e.h"
#include "support/e2e_wine.h"
#include "support/on_terminal.h"

namespace {

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

}  // namespace
