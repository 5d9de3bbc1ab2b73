// The extraction loop of qvunpack on archives it cannot take whole: damaged
// structure and sizes, unsafe names, and members it cannot write.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "qvunpack/extractor.h"
#include "support/archive_writer.h"
#include "support/sjis.h"
#include "support/test_files.h"
#include "unit/qvunpack_extract_test_support.h"

namespace fs = std::filesystem;
using archive_writer::Layout;
using archive_writer::Member;
using namespace qvunpack_extract_test;

TEST_F(Extract, SizeMismatchSkipsOnlyThatMember) {
  std::vector<Member> members = {{"SHORT", "abcd", 5}, {"LONG", "abcdef", 5}, {"RIGHT", "xyz"}};
  EXPECT_EQ(run(archive_writer::archive(members)), ExtractResult::incomplete);
  EXPECT_EQ(out, "       5  SHORT\r\n       5  LONG\r\n       3  RIGHT\r\n");
  std::string size_message = sjis("サイズが合いません") + "\r\n";
  EXPECT_EQ(err, size_message + size_message);
  EXPECT_EQ(folder_entries("."), std::set<std::string>({"RIGHT"}));
}

TEST_F(Extract, BlockBeyondTwiceTheSizeStopsAtTheBuffer) {
  // 5000 bytes declared as 3 (and as 0) must not run past a 6-byte buffer.
  std::vector<Member> members = {{"BIG", std::string(5000, 'q'), 3}, {"ZERO", "abc", 0}, {"NEXT", "ok"}};
  EXPECT_EQ(run(archive_writer::archive(members)), ExtractResult::incomplete);
  EXPECT_EQ(out, "       3  BIG\r\n       0  ZERO\r\n       2  NEXT\r\n");
  std::string size_message = sjis("サイズが合いません") + "\r\n";
  EXPECT_EQ(err, size_message + size_message);
  EXPECT_EQ(folder_entries("."), std::set<std::string>({"NEXT"}));
}

TEST_F(Extract, BadlyEndedDirectoryExtractsNothing) {
  Layout no_ends;
  no_ends.end_lines = false;
  std::string text = archive_writer::data_lines(archive_writer::directory({{"A", "a"}}), no_ends) + "\x1a\r\n" +
                     archive_writer::block("a", Layout{});
  EXPECT_EQ(run(text), ExtractResult::incomplete);
  EXPECT_EQ(out, sjis("データ構造が合いません") + "\r\n");
  EXPECT_TRUE(folder_entries(".").empty());
}

TEST_F(Extract, BadlyEndedMemberIsWrittenButStopsTheLoop) {
  Layout layout;
  std::string text = "PABAK\r\n" + archive_writer::block(archive_writer::directory({{"A", "a"}, {"B", "b"}}), layout) +
                     archive_writer::data_lines("a", layout) + "\x1aPABAX\r\n" + archive_writer::block("b", layout);
  EXPECT_EQ(run(text), ExtractResult::incomplete);
  EXPECT_EQ(out, "       1  A\r\n" + sjis("データ構造が合いません") + "\r\n");
  EXPECT_EQ(folder_entries("."), std::set<std::string>({"A"}));
}

TEST_F(Extract, LastMemberWithoutEndLineIsStillWritten) {
  Layout layout;
  std::string text = archive_writer::block(archive_writer::directory({{"A", "a"}, {"B", "bb"}}), layout) +
                     archive_writer::block("a", layout) + archive_writer::data_lines("bb", layout);
  EXPECT_EQ(run(text), ExtractResult::done);
  EXPECT_EQ(read_whole_file("B"), "bb");
}

TEST_F(Extract, EntriesCutShortAreIgnored) {
  // 6 + 20 + 19 bytes: one whole entry; the partial second names nothing.
  std::string directory = archive_writer::directory({{"A", "a"}, {"B", "b"}});
  directory.pop_back();
  std::string text = archive_writer::block(directory, Layout{}) + archive_writer::block("a", Layout{});
  EXPECT_EQ(run(text), ExtractResult::done);
  EXPECT_EQ(out, "       1  A\r\n");
  // A directory of fewer than 20 bytes that ends well has nothing to do.
  EXPECT_EQ(run(archive_writer::block(std::string(19, '\0'), Layout{})), ExtractResult::done);
  EXPECT_EQ(out, "");
}

TEST_F(Extract, NotAnArchiveIsAStructureError) {
  EXPECT_EQ(run(""), ExtractResult::incomplete);
  EXPECT_EQ(out, sjis("データ構造が合いません") + "\r\n");
  EXPECT_EQ(run("just some text\n"), ExtractResult::incomplete);
}

TEST_F(Extract, DirectoryLongerThanItsAreaIsRefused) {
  std::vector<Member> members;
  for (int i = 0; i < 513; ++i) members.push_back({"F" + std::to_string(i), ""});
  EXPECT_EQ(run(archive_writer::archive(members)), ExtractResult::incomplete);
  EXPECT_EQ(out, sjis("データ構造が合いません") + "\r\n");
  EXPECT_TRUE(folder_entries(".").empty());
  // 512 entries fill the area and are all extracted.
  members.pop_back();
  EXPECT_EQ(run(archive_writer::archive(members)), ExtractResult::done);
  EXPECT_EQ(folder_entries(".").size(), 512u);
}

TEST_F(Extract, UnsafeNamesAreNotWritten) {
  const std::vector<std::string> unsafe = {"../ESCAPE", "/tmp/ESCAPE", "SUB/FILE", "..", ".", "", "   .  .  .  ",
                                           std::string("\0ABC", 4)};
  std::vector<Member> members;
  for (const std::string& name : unsafe) members.push_back({name, "bad"});
  members.push_back({"GOOD", "good"});
  EXPECT_EQ(run(archive_writer::archive(members)), ExtractResult::incomplete);
  std::string message = sjis(":ファイル名が不正です") + "\r\n";
  EXPECT_EQ(err, "../ESCAPE" + message + "/tmp/ESCAPE" + message + "SUB/FILE" + message + ".." + message + "." +
                     message + message + "..." + message + message);
  EXPECT_EQ(folder_entries("."), std::set<std::string>({"GOOD"}));
  EXPECT_FALSE(fs::exists("/tmp/ESCAPE"));
  // Listing them writes nothing, so nothing is refused.
  EXPECT_EQ(run(archive_writer::archive(members), true), ExtractResult::done);
}

TEST_F(Extract, ASlashAfterALeadByteStillSeparates) {
  const std::string folder("A\x81");
  fs::create_directory(folder);
  EXPECT_EQ(run(archive_writer::archive({{folder + "/EVIL.TXT", "evil"}})), ExtractResult::incomplete);
  EXPECT_EQ(err, folder + "/EVIL.TXT" + sjis(":ファイル名が不正です") + "\r\n");
  EXPECT_TRUE(fs::is_empty(folder));
  fs::remove(folder);
}

TEST_F(Extract, FileThatCannotBeCreatedIsReported) {
  fs::create_directory("TAKEN");
  EXPECT_EQ(run(archive_writer::archive({{"TAKEN", "x"}, {"FREE", "y"}})), ExtractResult::incomplete);
  EXPECT_EQ(err, "TAKEN" + sjis(":ファイルが作れません") + "\r\n");
  EXPECT_EQ(read_whole_file("FREE"), "y");
  fs::remove("TAKEN");
  fs::remove("FREE");
}

TEST_F(Extract, ArchiveThatCannotBeOpenedIsReported) {
  UnpackOptions options{"no-such-archive", false, false};
  testing::internal::CaptureStderr();
  EXPECT_EQ(extract_archive(options), ExtractResult::not_opened);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "no-such-archive" + sjis(":がオープンできません") + "\r\n");
}

// g++ tells of AddressSanitizer with __SANITIZE_ADDRESS__, clang++ with
// __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QV_ADDRESS_SANITIZER)
constexpr bool address_space_is_sanitizer_managed = true;
#else
constexpr bool address_space_is_sanitizer_managed = false;
#endif

// In a child process: leaves 8 MiB of address space to spare, extracts,
// and tells whether the huge member was reported and skipped and the next
// one written.
bool extract_with_little_memory(const std::string& archive) {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  statm >> pages;
  rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (8u << 20);
  rlimit space{limit, limit};
  setrlimit(RLIMIT_AS, &space);
  UnpackOptions options{archive.c_str(), false, false};
  // The death test holds standard error already; the messages go to a file.
  std::freopen("messages", "w", stderr);
  bool incomplete = extract_archive(options) == ExtractResult::incomplete;
  std::fflush(stderr);
  bool reported = read_whole_file("messages") == sjis("メモリエラー") + "\r\n";
  std::string written = read_whole_file("NEXT");
  return incomplete && reported && written == "xyz" && !fs::exists("HUGE");
}

TEST_F(Extract, MemberWithoutMemoryIsSkippedWholly) {
  if (address_space_is_sanitizer_managed) GTEST_SKIP() << "the sanitizer reserves the address space itself";
  // The largest member needs a 32 MiB buffer; the child process gets far less
  // address space than that to spare. Its block must be read past, so that
  // the next member decodes its own.
  std::vector<Member> members = {{"HUGE", std::string(40, 'h'), 0xFFFFFF}, {"NEXT", "xyz"}};
  std::string name = (root / "archive").string();
  std::ofstream(name, std::ios::binary) << archive_writer::archive(members);
  EXPECT_EXIT(std::_Exit(extract_with_little_memory(name) ? 0 : 1), ::testing::ExitedWithCode(0), "");
  fs::remove("NEXT");
  fs::remove("messages");
}
