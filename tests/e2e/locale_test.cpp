// What a UTF-8 locale changes and what it must not. A pipe or a file gets
// the same bytes as in the C locale: Shift-JIS messages, the marks, the
// device's and the archive's names raw. Names that cross between the
// device and the host take the form each side reads: a Shift-JIS name
// copied from the device's list goes to the line untouched and lands as a
// UTF-8 file name, an archive member likewise, and a listed name the
// device cannot store stops the installer before the port opens.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "pclink/console.h"
#include "support/archive_writer.h"
#include "support/e2e.h"
#include "support/e2e_wine.h"
#include "support/file_session.h"

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

class Utf8Locale : public ::testing::Test {
 protected:
  void SetUp() override {
    // Wine gives a program its own code page, whatever the Linux locale.
    if (wine_mode()) GTEST_SKIP() << "the locale is a POSIX one";
  }
};

// One device program's run, piped, in a locale.
struct PipedCase {
  std::string program;
  std::vector<std::string> args;
  Files device_files;
  Files host_files;
  std::string title;          // the banner's text after the version, UTF-8
  std::string after_banner;   // standard error after the banner
  std::string out;            // standard output, exactly
};

TEST_F(Utf8Locale, APipeGetsTheSameShiftJisBytesAndMarksAsInTheCLocale) {
  const std::string memo = sjis("メモ.TXT");
  const std::vector<PipedCase> cases = {
      {"qvcopy", {"memo.txt"}, {}, {{"memo.txt", std::string(300, 'm')}}, "ZAURUS ファイルダイレクト転送",
       "oo end\n", ""},
      {"qvcopy", {"-g", memo}, {{memo, "fetched"}}, {}, "ZAURUS ファイルダイレクト転送", "oo end\n", ""},
      {"qvdir", {}, {{memo, "abcd"}}, {}, "ZAURUS 内部リスト表示",
       sjis("通信中 しばらくお待ち下さい") + "\noo end\n", memo + " 4\r\n"},
      {"qvcomlog", {"-c3", "memo.txt"}, {}, {{"memo.txt", "log"}}, "ZAURUSネットファイル転送", "o end\n", ""},
      {"qvrestart", {"-r"}, {}, {}, "ZAURUS パソコンリンクリセット", "", ""},
      {"qvinstall",
       {"-D", "p.zrs"},
       {},
       {{"p.zrs", "ZRS,P," + sjis("テスト") + "\r\nnone\r\nhello.bas\r\n"}, {"hello.bas", "10 END"}},
       "ZAURUS AddInソフト転送",
       "\n" + sjis("タイトル テスト") + "\nhello.bas:o" + sjis(" 終了") + "\n" +
           sjis("送信完了 Zaurus本体を再起動します") + "\n",
       ""},
  };
  for (const PipedCase& c : cases) {
    SCOPED_TRACE(c.program + (c.args.empty() ? "" : " " + c.args[0]));
    // The language a terminal would be spoken to in changes nothing either.
    const char* const locales[] = {"C", "C.UTF-8", "en_US.UTF-8", "ja_JP.UTF-8"};
    RunResult runs[std::size(locales)];
    for (std::size_t i = 0; i < std::size(locales); ++i) {
      FileSession session =
          run_file_program(c.program, c.args, {}, c.device_files, c.host_files, in_locale(locales[i]));
      EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
      runs[i] = session.run;
      EXPECT_EQ(runs[i].err, runs[0].err) << locales[i];
      EXPECT_EQ(runs[i].out, runs[0].out) << locales[i];
    }
    EXPECT_EQ(runs[1].err.rfind(sjis(program_title(c.program, c.title)) + author_suffix + "\n", 0), 0u)
        << runs[1].err;
    EXPECT_EQ(after_banner(runs[1].err), c.after_banner);
    EXPECT_EQ(runs[1].out, c.out);
  }
  // The archive tool: banner and listing on standard output.
  const std::string folder = make_temp_dir();
  write_file(folder + "/backup.txt", archive_writer::archive({{memo, "abc"}}));
  RunResult c_locale = run_program("qvunpack", {"-l", "backup.txt"}, in_locale("C", folder));
  RunResult utf8 = run_program("qvunpack", {"-l", "backup.txt"}, in_locale("C.UTF-8", folder));
  EXPECT_EQ(utf8.out, "qvunpack v1.4 " + sjis("バックアップファイルを切り出す") + author_suffix + "\r\n       3  " + memo +
                          "\r\n");
  EXPECT_EQ(utf8.out, c_locale.out);
  EXPECT_EQ(utf8.err, c_locale.err);
}

TEST_F(Utf8Locale, AShiftJisNameFromTheDeviceListIsSentAsItIsAndSavedUnderItsUtf8Form) {
  const std::string memo = sjis("メモ.TXT");
  // Shift-JIS in shape but no character: sent and saved as it came.
  const std::string broken = "\xfd.TXT";
  for (const std::string& name : {memo, broken}) {
    SCOPED_TRACE(to_hex(name));
    FileSession session = run_file_program("qvcopy", {"-g", name}, {}, {{name, "from the device"}}, {},
                                           in_locale("C.UTF-8"));
    EXPECT_EQ(session.run.exit_code, 0) << session.run.err;
    EXPECT_TRUE(contains(host_bytes(session.trace), with_nul("S1:" + name))) << to_hex(host_bytes(session.trace));
    EXPECT_EQ(read_file(session.host + "/" + (name == memo ? "メモ.TXT" : broken)), "from the device");
  }
}

TEST_F(Utf8Locale, AListedNameTheDeviceCannotStoreStopsTheInstallBeforeThePortOpens) {
  FileSession session = run_file_program(
      "qvinstall", {"-D", "p.zrs"}, {}, {},
      {{"p.zrs", "ZRS,P,t\r\nnone\r\nok.bas\r\n\xf0\x9f\x98\x80.bas\r\n"}, {"ok.bas", "1"}, {"\xf0\x9f\x98\x80.bas", "2"}},
      in_locale("C.UTF-8"));
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_TRUE(contains(session.run.err, "\xf0\x9f\x98\x80.bas: the device cannot store this name")) << session.run.err;
  EXPECT_EQ(host_bytes(session.trace), "");
  EXPECT_FALSE(file_exists(session.storage + "/OK.BAS"));
}

TEST_F(Utf8Locale, AListOnStandardInputIsReadWholeAndKeepsItsOrderBlanksAndEndMarks) {
  RunOptions options = in_locale("C.UTF-8");
  options.stdin_bytes = "ZRS,P,t\r\nnone\r\nb.bas\r\n\r\n\x1a" "skipped.bas\r\nヂa.bas\r\n";
  FileSession session =
      run_file_program("qvinstall", {"-D", "-"}, {}, {}, {{"b.bas", "bee"}, {"ヂa.bas", "dee"}}, options);
  // The blank line names a file that cannot be opened: not all went.
  EXPECT_EQ(session.run.exit_code, 2);
  EXPECT_TRUE(contains(session.run.err, "\nb.bas:o" + sjis(" 終了") + "\n" + sjis(":送信ファイルがオープンできません") +
                                            "\n" + "ヂa.bas:o" + sjis(" 終了") + "\n"))
      << session.run.err;
  EXPECT_FALSE(contains(session.run.err, "skipped")) << session.run.err;
  const std::string host = host_bytes(session.trace);
  const std::size_t first = host.find(with_nul("RFDS1:B.BAS"));
  const std::size_t second = host.find(with_nul("RFDS1:" + sjis("ヂA.BAS")));
  ASSERT_NE(first, std::string::npos) << to_hex(host);
  ASSERT_NE(second, std::string::npos) << to_hex(host);
  EXPECT_LT(first, second);
  EXPECT_EQ(read_file(session.storage + "/" + sjis("ヂA.BAS")), "dee");
}

TEST_F(Utf8Locale, ArchiveMembersLandUnderUtf8NamesAndStayShiftJisInTheCLocale) {
  const std::string archive = archive_writer::archive({{sjis("メモ.TXT"), "memo"}, {"\xff\xfe.TXT", "raw"}});
  for (const std::string locale : {"C.UTF-8", "C"}) {
    SCOPED_TRACE(locale);
    const std::string folder = make_temp_dir();
    write_file(folder + "/backup.txt", archive);
    RunResult run = run_program("qvunpack", {"backup.txt"}, in_locale(locale, folder));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(read_file(folder + "/" + (locale == "C" ? sjis("メモ.TXT") : "メモ.TXT")), "memo");
    EXPECT_EQ(read_file(folder + "/\xff\xfe.TXT"), "raw");
  }
}

// The documentation's recipe, run as it is written there, against a device
// whose list holds a Japanese name.
std::string documented_recipe() {
  const std::string all = read_file(std::string(QV_SOURCE_DIR) + "/docs/transfers.md");
  const std::size_t section = all.find("## Fetching every file the device lists");
  const std::size_t start = all.find("```bash\n", section);
  if (section == std::string::npos || start == std::string::npos) return "";
  const std::size_t end = all.find("```\n", start + 8);
  return all.substr(start + 8, end - start - 8);
}

TEST_F(Utf8Locale, TheDocumentedRecipeFetchesEveryListedFileUnderNamesAPersonCanRead) {
  std::string recipe = documented_recipe();
  const std::string port_line = "port=/dev/ttyUSB0\n";
  const std::size_t port_at = recipe.find(port_line);
  ASSERT_NE(port_at, std::string::npos) << recipe;
  Emulator emulator = start_emulator();
  write_file(emulator.storage_dir + "/" + sjis("メモ.TXT"), "memo");
  write_file(emulator.storage_dir + "/A.TXT", "alpha");
  recipe.replace(port_at, port_line.size(), "port=" + emulator.pty_path + "\n");
  const std::string folder = make_temp_dir();
  RunOptions options = in_locale("C.UTF-8", folder);
  options.environment.push_back("PATH=" + bin_dir() + ":/usr/bin:/bin");
  RunResult run = run_command_line({"/bin/bash", "-c", recipe}, options);
  stop_emulator(emulator);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(read_file(folder + "/fetched/メモ.TXT"), "memo");
  EXPECT_EQ(read_file(folder + "/fetched/A.TXT"), "alpha");
}

}  // namespace
