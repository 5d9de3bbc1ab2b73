// Host files saved through the local files layer: written, replaced whole,
// and refused when they cannot be made or the disk is full.
#include "pclink/file_saves.h"
#include "pclink/platform/process.h"
#include "support/test_files.h"
#include "unit/local_files_test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

using namespace local_files_test;

}  // namespace

TEST_F(LocalFiles, SaveWritesAndReplaces) {
  std::string full = write("out", "old contents that are longer");
  const std::uint8_t bytes[] = {0x00, 0x1A, 0x0D, 0x0A, 0xFF, 0x82, 0xA0};
  EXPECT_EQ(save_file(full.c_str(), bytes, 7), 7);
  EXPECT_EQ(read_whole_file(full), as_text(bytes, 7));
  EXPECT_EQ(save_file_whole(full.c_str(), bytes, 3), 1);
  EXPECT_EQ(read_whole_file(full), as_text(bytes, 3));
}

TEST_F(LocalFiles, SavingNothingCreatesAnEmptyFile) {
  std::string full = path("empty");
  const std::uint8_t unused = 0;
  EXPECT_EQ(save_file(full.c_str(), &unused, 0), 0);
  EXPECT_TRUE(fs::exists(full));
  EXPECT_EQ(fs::file_size(full), 0u);
  fs::remove(full);
  // Unlike save_file, the plain verdict tells this apart from a failure.
  EXPECT_EQ(save_file_whole(full.c_str(), &unused, 0), 1);
  EXPECT_TRUE(fs::exists(full));
}

TEST_F(LocalFiles, SaveReportsFilesThatCannotBeCreated) {
  const std::uint8_t bytes[] = {1, 2, 3};
  std::string full = path("no/such/folder");
  EXPECT_EQ(save_file(full.c_str(), bytes, 3), 0);
  EXPECT_EQ(save_file_whole(full.c_str(), bytes, 3), 0);
  EXPECT_EQ(save_file_whole(full.c_str(), bytes, 0), 0);
  // A folder of that name exists, yet no file could be made.
  EXPECT_EQ(save_file(folder.c_str(), bytes, 0), 0);
  EXPECT_EQ(save_file_whole(folder.c_str(), bytes, 0), 0);
}

TEST_F(LocalFiles, AWholeSaveReplacesTheTargetAndLeavesNothingElse) {
  std::string target = write("out", "old contents");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  // A temporary file left by a killed run is neither reused nor removed.
  std::string leftover = write("out.qv0.tmp", "left over");
  fs::create_symlink("out", path("link"));
  const std::uint8_t bytes[] = {'n', 'e', 'w'};
  EXPECT_EQ(save_file_whole(path("link").c_str(), bytes, 3), 1);
  EXPECT_EQ(platform::noted_temporary_file(), nullptr);
  EXPECT_TRUE(fs::is_symlink(path("link")));
  EXPECT_EQ(read_whole_file(target), "new");
  // A private file stays private.
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(read_whole_file(leftover), "left over");
  EXPECT_EQ(folder_entries(folder), std::set<std::string>({"out", "out.qv0.tmp", "link"}));
  // A device is written into, never replaced by a file (root could do that).
  EXPECT_EQ(save_file_whole("/dev/null", bytes, 3), 1);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// A name that the file system just takes: the temporary file beside it
// cannot carry the whole name and its suffix, so it carries the front.
TEST_F(LocalFiles, ANameAtTheFileSystemsLimitIsSavedWholeToo) {
  const std::string longest = std::string(250, 'n') + ".txt";
  const std::uint8_t bytes[] = {'n', 'e', 'w'};
  EXPECT_EQ(save_file_whole(path(longest.c_str()).c_str(), bytes, 3), 1);
  EXPECT_EQ(read_whole_file(path(longest.c_str())), "new");
  // "é" in UTF-8 where the cut would fall: it is not split, and the save
  // replaces the file the first one made.
  const std::string accented = std::string(246, 'n') + "\xc3\xa9" + std::string(3, 'x') + ".txt";
  EXPECT_EQ(save_file_whole(path(accented.c_str()).c_str(), bytes, 3), 1);
  EXPECT_EQ(save_file_whole(path(accented.c_str()).c_str(), bytes, 2), 1);
  EXPECT_EQ(read_whole_file(path(accented.c_str())), "ne");
  EXPECT_EQ(folder_entries(folder), std::set<std::string>({longest, accented}));
}

TEST_F(LocalFiles, SaveReportsAFullDisk) {
  // /dev/full accepts the open and fails every write that reaches it.
  const std::uint8_t small[] = {1, 2, 3};
  EXPECT_EQ(save_file("/dev/full", small, 3), -1);
  EXPECT_EQ(save_file_whole("/dev/full", small, 3), 0);
  std::string large(1 << 20, 'x');
  auto* bytes = reinterpret_cast<const std::uint8_t*>(large.data());
  int written = save_file("/dev/full", bytes, 1 << 20);
  EXPECT_LT(written, 1 << 20);
  EXPECT_EQ(save_file_whole("/dev/full", bytes, 1 << 20), 0);
}
