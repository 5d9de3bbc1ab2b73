// The extraction loop of qvunpack on sound archives: the listing, and each
// member written byte for byte under its name.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "qvunpack/extractor.h"
#include "support/archive_writer.h"
#include "support/sjis.h"
#include "support/test_files.h"
#include "unit/qvunpack_extract_test_support.h"

namespace fs = std::filesystem;
using archive_writer::Layout;
using archive_writer::Member;

namespace {

using namespace qvunpack_extract_test;

const char worked_example[] =
    "PABAK\r\n"
    "00000000H5HPJ66K66i0OSOP00000030000\r\n"
    "\x1aPABAK\r\n"
    "789P\r\n"
    "\x1aPABAK\r\n";

std::string random_bytes(std::mt19937& random, std::size_t count) {
  std::string bytes(count, '\0');
  for (char& b : bytes) b = static_cast<char>(random() % 256);
  return bytes;
}

}  // namespace

TEST_F(Extract, WorkedExample) {
  EXPECT_EQ(run(worked_example), ExtractResult::done);
  EXPECT_EQ(out, "       3  MEMO.TXT\r\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(read_whole_file("MEMO.TXT"), "abc");
  EXPECT_EQ(folder_entries("."), std::set<std::string>({"MEMO.TXT"}));
}

TEST_F(Extract, RandomMembersRoundTripWithEveryLineShape) {
  std::mt19937 random(1234);
  std::vector<Member> members;
  std::string listing;
  for (int i = 0; i < 24; ++i) {
    std::size_t size = i < 4 ? static_cast<std::size_t>(i) : random() % 4000;
    members.push_back({"M" + std::to_string(i) + ".BIN", random_bytes(random, size)});
    char line[16];
    std::snprintf(line, sizeof line, "%8zu  ", size);
    listing += line + members.back().name + "\r\n";
  }
  for (int bytes_per_line : {1, 2, 3, 4, 5, 57, 100, 766, 767}) {
    Layout layout;
    layout.bytes_per_line = bytes_per_line;
    layout.line_end = bytes_per_line % 2 ? "\r\n" : "\n";
    layout.header_line = bytes_per_line != 57;
    ASSERT_EQ(run(archive_writer::archive(members, layout)), ExtractResult::done);
    EXPECT_EQ(out, listing);
    EXPECT_EQ(err, "");
    for (const Member& member : members) {
      ASSERT_EQ(read_whole_file(member.name), member.bytes) << member.name << " at " << bytes_per_line;
      fs::remove(member.name);
    }
  }
}

TEST_F(Extract, ListingWritesNothing) {
  std::vector<Member> members = {{"A.TXT", std::string(1234, 'a')}, {"B.TXT", ""}};
  EXPECT_EQ(run(archive_writer::archive(members), true), ExtractResult::done);
  EXPECT_EQ(out, "    1234  A.TXT\r\n       0  B.TXT\r\n");
  EXPECT_TRUE(folder_entries(".").empty());
  EXPECT_EQ(run(archive_writer::archive(members), true, true), ExtractResult::done);
  EXPECT_EQ(out, "A.TXT\r\nB.TXT\r\n");
  EXPECT_TRUE(folder_entries(".").empty());
}

TEST_F(Extract, EmptyMemberBecomesAnEmptyFile) {
  EXPECT_EQ(run(archive_writer::archive({{"EMPTY", ""}})), ExtractResult::done);
  EXPECT_TRUE(fs::exists("EMPTY"));
  EXPECT_EQ(fs::file_size("EMPTY"), 0u);
}

TEST_F(Extract, SpacesAreSqueezedOutOfNames) {
  EXPECT_EQ(run(archive_writer::archive({{"MY DATA .DAT", "x"}, {" A B C D E F", "y"}})), ExtractResult::done);
  EXPECT_EQ(read_whole_file("MYDATA.DAT"), "x");
  EXPECT_EQ(read_whole_file("ABCDEF"), "y");
  EXPECT_EQ(out, "       1  MYDATA.DAT\r\n       1  ABCDEF\r\n");
}

TEST_F(Extract, ShiftJisNamesAreKeptByteForByte) {
  // "ソ" ends in the byte 0x5C, a backslash on its own.
  std::string name = sjis("ソフト") + ".TXT";
  EXPECT_EQ(run(archive_writer::archive({{name, "sjis"}})), ExtractResult::done);
  EXPECT_EQ(read_whole_file(name), "sjis");
}
