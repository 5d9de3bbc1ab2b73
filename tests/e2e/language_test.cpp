// The language of the messages on a terminal: English wherever the locale's
// language is not Japanese, the C locale included, where a terminal gets
// plain ASCII; Japanese where it is; and QVLINK_RAW, which gives a terminal
// what a pipe gets. What a pipe gets in each locale is checked in
// locale_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pclink/console.h"
#include "support/archive_writer.h"
#include "support/e2e.h"
#include "support/e2e_wine.h"
#include "support/file_session.h"

namespace {

class TerminalLanguage : public ::testing::Test {
 protected:
  void SetUp() override {
    // Under Wine a pseudo-terminal is a Windows console, which reshapes the
    // bytes; its language comes from the Windows user's.
    if (wine_mode()) GTEST_SKIP() << "Wine's console reshapes the bytes";
  }

  // A device program on a terminal against a fresh emulator, in locale.
  RunResult on_terminal(const std::string& locale, const std::string& program, std::vector<std::string> args,
                        std::vector<std::string> emulator_args = {},
                        const std::vector<std::pair<std::string, std::string>>& device_files = {},
                        std::vector<std::string> environment = {}) {
    Emulator emulator = start_emulator(std::move(emulator_args));
    for (const auto& [name, contents] : device_files) write_file(emulator.storage_dir + "/" + name, contents);
    RunOptions options = in_locale(locale, host);
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    RunResult result = run_device_program_on_terminal(emulator, program, std::move(args), options);
    stop_emulator(emulator);
    return result;
  }

  std::string host = make_temp_dir();
};

bool is_plain_ascii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

TEST_F(TerminalLanguage, OutsideJapaneseLocalesEveryMessageIsEnglishAndTheCLocaleGetsAsciiAlone) {
  write_file(host + "/hello.zrs", "ZRS,P," + sjis("サンプル") + "\r\nnone\r\nhello.bas\r\n");
  write_file(host + "/hello.bas", "10 PRINT\r\n");
  write_file(host + "/backup.txt", "not an archive\n");
  const std::string memo = sjis("メモ.TXT");
  for (const std::string locale : {"en_US.UTF-8", "C.UTF-8", "C"}) {
    SCOPED_TRACE(locale);
    const bool ascii = locale == "C";
    RunResult refused = on_terminal(locale, "qvrestart", {"-r"}, {"--refuse"});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_EQ(refused.out, program_title("qvrestart", "ZAURUS PC link reset") + author_suffix +
                               "\nthe reset failed: the device refused it\n");

    RunResult not_connected = on_terminal(locale, "qvcopy", {"hello.bas"}, {"--refuse"});
    EXPECT_EQ(not_connected.exit_code, 2);
    EXPECT_TRUE(contains(not_connected.out, program_title("qvcopy", "ZAURUS direct file transfer")));
    EXPECT_TRUE(contains(not_connected.out, "\nthe Zaurus is not connected or not waiting: start its PC link\n"))
        << not_connected.out;

    // The device's own text is shown in the terminal's set: "?" where ASCII lacks it.
    RunResult listed = on_terminal(locale, "qvdir", {}, {}, {{memo, "m"}});
    EXPECT_EQ(listed.exit_code, 0);
    EXPECT_TRUE(contains(listed.out, "\ncommunicating, please wait\n")) << listed.out;
    EXPECT_TRUE(contains(listed.out, ascii ? "??.TXT 1\r\n" : "メモ.TXT 1\r\n")) << listed.out;

    RunResult installed = on_terminal(locale, "qvinstall", {"hello.zrs"});
    EXPECT_EQ(installed.exit_code, 0) << installed.out;
    EXPECT_TRUE(contains(installed.out, program_title("qvinstall", "ZAURUS AddIn software transfer")));
    EXPECT_TRUE(contains(installed.out, ascii ? "\ntitle: ????\n" : "\ntitle: サンプル\n")) << installed.out;
    EXPECT_TRUE(contains(installed.out, "\n done\nsending complete; the Zaurus restarts\n")) << installed.out;

    RunResult unpacked = run_program_on_terminal("qvunpack", {"-l", "backup.txt"}, in_locale(locale, host));
    EXPECT_EQ(unpacked.exit_code, 2);
    EXPECT_EQ(unpacked.out, "qvunpack v1.4 backup file extraction" + std::string(author_suffix) +
                                "\r\nthe data structure does not match: the archive is damaged or is none\r\n");

    for (const RunResult* run : {&refused, &not_connected, &listed, &installed, &unpacked}) {
      if (ascii) {
        EXPECT_TRUE(is_plain_ascii(run->out)) << run->out;
      }
      // No message of the programs' own Japanese reaches an English reader.
      for (const char* japanese : {"リセット", "Zaurus が", "通信中", "タイトル", "送信完了", "終了", "データ構造"}) {
        EXPECT_FALSE(contains(run->out, japanese)) << run->out;
      }
    }
  }
}

TEST_F(TerminalLanguage, AJapaneseLocaleOrLanguageListGetsTheProgramsOwnTextInUtf8) {
  const std::string expected = program_title("qvrestart", "ZAURUS パソコンリンクリセット") + author_suffix +
                               "\nリセットに失敗しました\n";
  EXPECT_EQ(on_terminal("ja_JP.UTF-8", "qvrestart", {"-r"}, {"--refuse"}).out, expected);
  // LANGUAGE outranks the locale's own language, as for every gettext program...
  EXPECT_EQ(on_terminal("en_US.UTF-8", "qvrestart", {"-r"}, {"--refuse"}, {}, {"LANGUAGE=ja:en"}).out, expected);
  // ... except in the C locale, whose terminal shows no Japanese anyway.
  EXPECT_EQ(on_terminal("C.UTF-8", "qvrestart", {"-r"}, {"--refuse"}, {}, {"LANGUAGE=ja"}).out,
            program_title("qvrestart", "ZAURUS PC link reset") + author_suffix +
                "\nthe reset failed: the device refused it\n");
}

// A Japanese locale that is not installed and names no set: its terminal is
// taken to show ASCII alone, where Japanese would be question marks; the
// English text is what its reader can read.
TEST_F(TerminalLanguage, AJapaneseLocaleWhoseTerminalShowsNoJapaneseGetsEnglish) {
  EXPECT_EQ(on_terminal("ja_QQ", "qvrestart", {"-r"}, {"--refuse"}).out,
            program_title("qvrestart", "ZAURUS PC link reset") + author_suffix +
                "\nthe reset failed: the device refused it\n");
}

TEST_F(TerminalLanguage, QvlinkRawGivesATerminalTheBytesAPipeGets) {
  write_file(host + "/memo.txt", std::string(300, 'm'));
  for (const std::string locale : {"en_US.UTF-8", "ja_JP.UTF-8"}) {
    SCOPED_TRACE(locale);
    RunResult refused = on_terminal(locale, "qvrestart", {"-r"}, {"--refuse"}, {}, {"QVLINK_RAW=1"});
    EXPECT_EQ(refused.out, sjis(program_title("qvrestart", "ZAURUS パソコンリンクリセット")) + author_suffix + "\n" +
                               sjis("リセットに失敗しました") + "\n");
    // The marks, not the progress line.
    RunResult sent = on_terminal(locale, "qvcopy", {"memo.txt"}, {}, {}, {"QVLINK_RAW=1"});
    EXPECT_TRUE(sent.out.ends_with("\noo end\n")) << sent.out;
  }
  // "0" asks for nothing.
  RunResult presented = on_terminal("en_US.UTF-8", "qvrestart", {"-r"}, {"--refuse"}, {}, {"QVLINK_RAW=0"});
  EXPECT_TRUE(contains(presented.out, "\nthe reset failed: the device refused it\n")) << presented.out;
}

}  // namespace
