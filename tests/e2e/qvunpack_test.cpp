// The built qvunpack: command line, banner, streams, exit codes, files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <cstdlib>
#include <fcntl.h>
#include <locale.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pclink/console.h"
#include "support/archive_writer.h"
#include "support/e2e.h"
#include "support/e2e_wine.h"
#include "support/sjis.h"
#include "support/test_files.h"

namespace fs = std::filesystem;

namespace {

struct ProgramRun {
  int exit_code;
  std::string out;
  std::string err;
};

// Each test in its own folder: the archive beside an empty work/ folder in
// which qvunpack runs.
class Qvunpack : public ::testing::Test {
 protected:
  void SetUp() override {
    root = make_temp_folder("qv_unpack_e2e");
    ASSERT_FALSE(root.empty());
    fs::create_directory(root / "work");
  }
  void TearDown() override { fs::remove_all(root); }

  std::string put_archive(const std::string& text) {
    std::ofstream(root / "backup", std::ios::binary) << text;
    return (root / "backup").string();
  }

  // Runs qvunpack in work/ with the arguments; standard input from the file
  // stdin_path, or empty; standard output into a file of the test's, or
  // into output_path when one is given (and then not read back).
  ProgramRun run(const std::vector<std::string>& arguments, const std::string& stdin_path = "/dev/null",
                 const std::string& output_path = "") {
    fs::path out_path = output_path.empty() ? root / "stdout" : fs::path(output_path), err_path = root / "stderr";
    pid_t child = fork();
    if (child == 0) {
      if (chdir((root / "work").c_str()) != 0) _exit(126);
      int in = open(stdin_path.c_str(), O_RDONLY);
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      // Wine takes its ANSI code page from the locale: 1252 in "C", 932 in
      // a Japanese one.
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      std::vector<std::string> command = launch_command("qvunpack", arguments);
      std::vector<char*> argv;
      for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ProgramRun result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", read_whole_file(err_path)};
    if (output_path.empty()) {
      result.out = read_whole_file(out_path);
      fs::remove(out_path);
    }
    fs::remove(err_path);
    return result;
  }

  std::set<std::string> written() const { return folder_entries(root / "work"); }

  fs::path root;
  std::vector<std::pair<std::string, std::string>> environment;  // settings for the runs
};

const std::string banner = "qvunpack v1.4 " + sjis("バックアップファイルを切り出す") + author_suffix + "\r\n";
const std::string usage = "usage: qvunpack [-l] [-t] <backupfile>\r\n";

const char worked_example[] =
    "PABAK\r\n"
    "00000000H5HPJ66K66i0OSOP00000030000\r\n"
    "\x1aPABAK\r\n"
    "789P\r\n"
    "\x1aPABAK\r\n";

}  // namespace

TEST_F(Qvunpack, ExtractsTheWorkedExample) {
  ProgramRun run_result = run({put_archive(worked_example)});
  EXPECT_EQ(run_result.exit_code, exit_done);
  EXPECT_EQ(run_result.out, banner + "       3  MEMO.TXT\r\n");
  EXPECT_EQ(run_result.err, "");
  EXPECT_EQ(read_whole_file(root / "work" / "MEMO.TXT"), "abc");
}

TEST_F(Qvunpack, ListsWithoutWriting) {
  std::string archive = put_archive(archive_writer::archive({{"A.TXT", std::string(1234, 'a')}, {"B  .BIN", "b"}}));
  ProgramRun listing = run({"-l", archive});
  EXPECT_EQ(listing.exit_code, exit_done);
  EXPECT_EQ(listing.out, banner + "    1234  A.TXT\r\n       1  B.BIN\r\n");
  ProgramRun terse = run({archive, "-t"});
  EXPECT_EQ(terse.exit_code, exit_done);
  EXPECT_EQ(terse.out, "A.TXT\r\nB.BIN\r\n");
  EXPECT_TRUE(written().empty());
}

// A listing that standard output did not take whole (a full disk) is a
// failure said on standard error, whether the members were written or not.
TEST_F(Qvunpack, AListingStandardOutputCannotTakeIsNotDone) {
  std::string archive = put_archive(worked_example);
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"-l", archive}, {"-t", archive}, {archive}}) {
    SCOPED_TRACE(arguments.front());
    ProgramRun full = run(arguments, "/dev/null", "/dev/full");
    EXPECT_EQ(full.exit_code, exit_not_done);
    EXPECT_EQ(full.err, "standard output cannot be written: the listing is not whole there\n");
  }
}

TEST_F(Qvunpack, RejectedCommandLineShowsTheUsage) {
  std::string archive = put_archive(worked_example);
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"-x", archive}, {archive, "-L"}, {}, {"--list", archive}}) {
    ProgramRun rejected = run(arguments);
    EXPECT_EQ(rejected.exit_code, exit_not_done);
    EXPECT_EQ(rejected.out, banner);
    EXPECT_NE(rejected.err.find("\n" + usage + "Try 'qvunpack --help'\n"), std::string::npos) << rejected.err;
  }
  EXPECT_EQ(run({"-x", archive}).err, "qvunpack: unknown option letter 'x' in '-x'\n" + usage + "Try 'qvunpack --help'\n");
  EXPECT_EQ(run({}).err, "qvunpack: no backup file named\n" + usage + "Try 'qvunpack --help'\n");
  // The terse listing's refusal: no banner, and "-tx" is no terse listing of "x".
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{{"-t", "-?"}, {archive, "-tx"}}) {
    ProgramRun terse_rejected = run(arguments);
    EXPECT_EQ(terse_rejected.exit_code, exit_not_done);
    EXPECT_EQ(terse_rejected.out, "");
    EXPECT_TRUE(terse_rejected.err.ends_with(usage + "Try 'qvunpack --help'\n")) << terse_rejected.err;
  }
  EXPECT_TRUE(written().empty());
}

TEST_F(Qvunpack, ASecondNameIsRefusedAndNothingIsWritten) {
  ProgramRun run_result = run({"no-such-file", put_archive(worked_example)});
  EXPECT_EQ(run_result.exit_code, exit_not_done);
  EXPECT_NE(run_result.err.find("one name too many ('no-such-file' is named already)"), std::string::npos)
      << run_result.err;
  EXPECT_EQ(written(), std::set<std::string>{});
}

TEST_F(Qvunpack, ReadsStandardInputUntranslated) {
  std::string members_bytes(300, '\0');
  for (std::size_t i = 0; i < members_bytes.size(); ++i) members_bytes[i] = static_cast<char>(i);
  std::string archive = put_archive(archive_writer::archive({{"FIRST", members_bytes}, {"SECOND", "\x1a\r\n"}}));
  ProgramRun run_result = run({"-"}, archive);
  EXPECT_EQ(run_result.exit_code, exit_done);
  EXPECT_EQ(run_result.out, banner + "     300  FIRST\r\n       3  SECOND\r\n");
  EXPECT_EQ(read_whole_file(root / "work" / "FIRST"), members_bytes);
  EXPECT_EQ(read_whole_file(root / "work" / "SECOND"), "\x1a\r\n");
}

TEST_F(Qvunpack, ArchiveThatCannotBeOpenedIsNotDone) {
  ProgramRun run_result = run({"missing.bak"});
  EXPECT_EQ(run_result.exit_code, exit_not_done);
  EXPECT_EQ(run_result.out, banner);
  EXPECT_EQ(run_result.err, "missing.bak" + sjis(":がオープンできません") + "\r\n");
}

TEST_F(Qvunpack, FailuresAreNotDone) {
  ProgramRun mismatch = run({put_archive(archive_writer::archive({{"A", "abc", 4}}))});
  EXPECT_EQ(mismatch.exit_code, exit_not_done);
  EXPECT_EQ(mismatch.err, sjis("サイズが合いません") + "\r\n");
  ProgramRun structure = run({put_archive("not an archive\n")});
  EXPECT_EQ(structure.exit_code, exit_not_done);
  EXPECT_EQ(structure.out, banner + sjis("データ構造が合いません") + "\r\n");
  EXPECT_TRUE(written().empty());
}

TEST_F(Qvunpack, HostileNamesStayInTheCurrentDirectory) {
  std::string archive = put_archive(archive_writer::archive(
      {{"../backup", "overwritten"}, {"../../x", "x"}, {"/tmp/x", "x"}, {"..", "x"}, {"OK", "ok"}}));
  ProgramRun run_result = run({archive});
  EXPECT_EQ(run_result.exit_code, exit_not_done);
  EXPECT_EQ(written(), std::set<std::string>({"OK"}));
  // The archive beside work/ is untouched, and nothing else appeared there.
  EXPECT_EQ(folder_entries(root), std::set<std::string>({"backup", "work"}));
  EXPECT_NE(read_whole_file(root / "backup"), "overwritten");
}

// Where a ja_JP.UTF-8 locale is found: "" when the system has it, else a
// folder (for LOCPATH) that localedef made it in; nothing when neither.
std::optional<std::string> japanese_locale_path(const fs::path& dir) {
  if (locale_t installed = newlocale(LC_ALL_MASK, "ja_JP.UTF-8", nullptr)) {
    freelocale(installed);
    return "";
  }
  const fs::path made = dir / "locales";
  fs::create_directories(made);
  const std::string command = "localedef -i ja_JP -f UTF-8 '" + (made / "ja_JP.UTF-8").string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  return made.string();
}

// "A", the byte 0x81, then "\\EVIL.TXT". The host's file system decides
// whether 0x81 0x5C is one character. On a POSIX host the name is Shift-JIS
// and is kept as it is. On Windows the ANSI code page decides: under any but
// 932, 0x81 leads nothing, the 0x5C would separate a folder "A\x81", and the
// name is refused.
TEST_F(Qvunpack, ABackslashAfterAByteTheHostTakesForNoLeadByteSeparates) {
  const std::string name("A\x81\\EVIL.TXT");
  environment = {{"LC_ALL", "C"}};
  ProgramRun run_result = run({put_archive(archive_writer::archive({{name, "evil"}, {"OK", "ok"}}))});
  if (!wine_mode()) {
    EXPECT_EQ(run_result.exit_code, exit_done) << run_result.err;
    EXPECT_EQ(written(), std::set<std::string>({name, "OK"}));
    return;
  }
  EXPECT_EQ(run_result.exit_code, exit_not_done);
  EXPECT_EQ(run_result.err, name + sjis(":ファイル名が不正です") + "\r\n");
  EXPECT_EQ(written(), std::set<std::string>({"OK"}));
}

// Under code page 932 (a Japanese locale) the same bytes are one character,
// "―", and the member is written, as is "ソ" (0x83 0x5C): Japanese names
// keep their 0x5C.
TEST_F(Qvunpack, UnderCodePage932ABackslashAfterALeadByteBelongsToTheCharacter) {
  if (!wine_mode()) GTEST_SKIP() << "a POSIX host takes a name as its bytes, whatever the locale";
  const std::optional<std::string> locales = japanese_locale_path(root);
  if (!locales) GTEST_SKIP() << "no ja_JP.UTF-8 locale, and localedef could not make one";
  environment = {{"LC_ALL", "ja_JP.UTF-8"}};
  if (!locales->empty()) environment.push_back({"LOCPATH", *locales});
  ProgramRun run_result = run({put_archive(
      archive_writer::archive({{"A\x81\\EVIL.TXT", "bar"}, {sjis("ソ") + "FT.TXT", "so"}}))});
  EXPECT_EQ(run_result.exit_code, exit_done) << run_result.err;
  EXPECT_EQ(run_result.err, "");
  // Wine spells the names in UTF-8 on Linux.
  EXPECT_EQ(written(), std::set<std::string>({"A―EVIL.TXT", "ソFT.TXT"}));
  EXPECT_EQ(read_whole_file(root / "work" / "ソFT.TXT"), "so");
}
