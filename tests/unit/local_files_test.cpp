// Host files, console streams and string routines.
#include "pclink/file_saves.h"
#include "pclink/local_files.h"
#include "pclink/platform/process.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A fresh folder per test, removed afterwards.
class LocalFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = make_temp_folder("qv_local_files");
    ASSERT_FALSE(folder.empty());
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string path(const char* name) const { return (folder / name).string(); }

  std::string write(const char* name, const std::string& bytes) const {
    std::string full = path(name);
    std::ofstream(full, std::ios::binary) << bytes;
    return full;
  }

  fs::path folder;
};

struct FreeBlock {
  void operator()(std::uint8_t* block) const { std::free(block); }
};
using Block = std::unique_ptr<std::uint8_t, FreeBlock>;

std::string as_text(const std::uint8_t* bytes, int count) {
  return {reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count)};
}

// Standard input temporarily taken from a file.
class StdinFrom {
 public:
  explicit StdinFrom(const std::string& full) : saved_(dup(0)) {
    int fd = open(full.c_str(), O_RDONLY);
    dup2(fd, 0);
    close(fd);
    std::clearerr(stdin);
  }
  ~StdinFrom() {
    dup2(saved_, 0);
    close(saved_);
    std::clearerr(stdin);
  }

 private:
  int saved_;
};

}  // namespace

TEST_F(LocalFiles, HyphenAloneIsStandardInputAndIsNeverClosed) {
  StdinFrom input(write("in", "first\nsecond\n"));
  FileRef ref{};
  ASSERT_EQ(open_input(ref, "-"), 1);
  EXPECT_EQ(ref.stream, stdin);
  EXPECT_EQ(ref.descriptor, 0);
  char line[text_line_buffer_size];
  ASSERT_EQ(read_text_line(ref, line), 5);
  EXPECT_STREQ(line, "first");
  close_file(ref);
  // Still open: the next line comes through.
  FileRef again{};
  ASSERT_EQ(open_input(again, "-"), 1);
  ASSERT_EQ(read_text_line(again, line), 6);
  EXPECT_STREQ(line, "second");
}

TEST_F(LocalFiles, LongerNamesBeginningWithHyphenAreFileNames) {
  fs::path previous = fs::current_path();
  fs::current_path(folder);
  FileRef ref{};
  EXPECT_EQ(open_input(ref, "--"), 0);
  EXPECT_EQ(ref.stream, nullptr);
  write("-x", "data");
  ASSERT_EQ(open_input(ref, "-x"), 1);
  EXPECT_NE(ref.stream, stdin);
  char buffer[8];
  EXPECT_EQ(read_block(ref, buffer, 8), 4);
  EXPECT_EQ(close_file(ref), 1);
  fs::current_path(previous);
}

TEST_F(LocalFiles, OpenFailsForMissingFile) {
  FileRef ref{};
  EXPECT_EQ(open_input(ref, path("missing").c_str()), 0);
  EXPECT_EQ(ref.stream, nullptr);
}

TEST_F(LocalFiles, ReadBlockGivesFewerAtTheEnd) {
  FileRef ref{};
  ASSERT_EQ(open_input(ref, write("f", "0123456789").c_str()), 1);
  char buffer[16] = {};
  EXPECT_EQ(read_block(ref, buffer, 0), 0);
  EXPECT_EQ(read_block(ref, buffer, 6), 6);
  EXPECT_EQ(read_block(ref, buffer, 6), 4);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(read_block(ref, buffer, 6), 0);
  close_file(ref);
}

TEST_F(LocalFiles, TextLinesLoseTheirEndsWhateverTheEnd) {
  FileRef ref{};
  ASSERT_EQ(open_input(ref, write("f", "abc\r\nabc\n\nabc").c_str()), 1);
  char line[text_line_buffer_size];
  EXPECT_EQ(read_text_line(ref, line), 3);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(read_text_line(ref, line), 3);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(read_text_line(ref, line), 0);
  EXPECT_STREQ(line, "");
  EXPECT_EQ(read_text_line(ref, line), 3);
  EXPECT_STREQ(line, "abc");
  EXPECT_EQ(read_text_line(ref, line), -1);
  close_file(ref);
}

TEST_F(LocalFiles, CarriageReturnOrNulInsideALineEndsTheText) {
  FileRef ref{};
  ASSERT_EQ(open_input(ref, write("f", std::string("ab\rcd\nxy\0z\nnext\n", 16)).c_str()), 1);
  char line[text_line_buffer_size];
  EXPECT_EQ(read_text_line(ref, line), 2);
  EXPECT_STREQ(line, "ab");
  EXPECT_EQ(read_text_line(ref, line), 2);
  EXPECT_STREQ(line, "xy");
  EXPECT_EQ(read_text_line(ref, line), 4);
  EXPECT_STREQ(line, "next");
  close_file(ref);
}

TEST_F(LocalFiles, LongLinesComeInPortionsThatFitTheBuffer) {
  std::string long_line(2500, 'q');
  long_line[1022] = 'A';  // last byte of the first portion
  long_line[1023] = 'B';  // first byte of the second
  FileRef ref{};
  ASSERT_EQ(open_input(ref, write("f", long_line + "\n").c_str()), 1);
  // Exactly the promised size on the heap, so an overrun is caught.
  auto line = std::make_unique<char[]>(text_line_buffer_size);
  ASSERT_EQ(read_text_line(ref, line.get()), 1023);
  EXPECT_EQ(line[1022], 'A');
  EXPECT_EQ(line[1023], '\0');
  ASSERT_EQ(read_text_line(ref, line.get()), 1023);
  EXPECT_EQ(line[0], 'B');
  EXPECT_EQ(read_text_line(ref, line.get()), 2500 - 2046);
  EXPECT_EQ(read_text_line(ref, line.get()), -1);
  close_file(ref);
}

TEST_F(LocalFiles, LoadPlacesContentsAfterTheRoomBefore) {
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred.push_back(static_cast<char>(i * 7));
  std::string full = write("f", hundred);
  Block block(load_file_room_before(full.c_str(), 25));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(loaded_size(), 125);
  EXPECT_EQ(as_text(block.get() + 25, 100), hundred);

  Block with_after(load_file_with_room(full.c_str(), 3, 9));
  ASSERT_NE(with_after, nullptr);
  EXPECT_EQ(loaded_size(), 112);
  EXPECT_EQ(as_text(with_after.get() + 3, 100), hundred);

  Block plain(load_file(full.c_str()));
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(loaded_size(), 100);
  EXPECT_EQ(as_text(plain.get(), 100), hundred);
}

TEST_F(LocalFiles, EmptyFileLoadsAsABlock) {
  Block block(load_file(write("empty", "").c_str()));
  EXPECT_NE(block, nullptr);
  EXPECT_EQ(loaded_size(), 0);
}

TEST_F(LocalFiles, MissingFileKeepsTheLoadedSize) {
  Block first(load_file(write("f", "12345").c_str()));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(load_file(path("missing").c_str()), nullptr);
  EXPECT_EQ(loaded_size(), 5);
}

TEST_F(LocalFiles, FilesThatCannotBeReadWholeAreRefused) {
  // A directory opens for reading on this host but has no bytes to give.
  EXPECT_EQ(load_file(folder.c_str()), nullptr);
  // The kernel reports a size of 0 for this one, yet it has contents.
  EXPECT_EQ(load_file("/proc/self/status"), nullptr);
  // A pipe cannot be measured.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(::write(ends[1], "data", 4), 4);
  std::string pipe_name = "/proc/self/fd/" + std::to_string(ends[0]);
  EXPECT_EQ(load_file(pipe_name.c_str()), nullptr);
  close(ends[0]);
  close(ends[1]);
}

TEST_F(LocalFiles, SizesBeyondAnIntAreRefusedBeforeAllocating) {
  Block first(load_file(write("small", "12345").c_str()));
  ASSERT_NE(first, nullptr);
  // Sparse files: nothing is read, so they cost no disk space or time.
  std::string huge = write("huge", "");
  fs::resize_file(huge, 3LL << 30);
  EXPECT_EQ(load_file(huge.c_str()), nullptr);
  std::string near_limit = write("near", "");
  fs::resize_file(near_limit, max_loaded_size - 16);
  EXPECT_EQ(load_file_with_room(near_limit.c_str(), 8, 9), nullptr);
  EXPECT_EQ(load_file_with_room(near_limit.c_str(), INT_MAX, INT_MAX), nullptr);
  EXPECT_EQ(loaded_size(), 5);
  EXPECT_EQ(load_file_with_room(path("small").c_str(), -1, 0), nullptr);
}

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

TEST(ConsoleStreams, BytesPassUntranslated) {
  const std::string sjis = "\x83\x65\x83\x4c\x83\x58\x83\x67";  // テキスト
  testing::internal::CaptureStdout();
  out_text(sjis.c_str());
  out_char(0x1A);
  out_char('\r');
  out_char('\n');
  out_text("");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, sjis + "\x1a\r\n");
  testing::internal::CaptureStderr();
  err_text("x\\y");
  err_char(0xFF);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "x\\y\xff");
}

TEST(Strings, CopiesChainIntoOneText) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  char* end = copy_string(copy_string(buffer, "RFF"), "S1:MEMO");
  EXPECT_EQ(end, buffer + 10);
  EXPECT_EQ(*end, '\0');
  EXPECT_STREQ(buffer, "RFFS1:MEMO");
  EXPECT_EQ(buffer[11], '#');
  EXPECT_EQ(copy_string(buffer, ""), buffer);
  EXPECT_EQ(text_length("RFFS1:MEMO"), 10);
  EXPECT_EQ(text_length(""), 0);
  EXPECT_EQ(text_length("\x82\xa0"), 2);
}

TEST(Strings, CopyBlockGoesFirstByteFirst) {
  std::uint8_t bytes[6] = {9, 1, 2, 3, 4, 5};
  std::uint8_t target[6] = {};
  copy_block(6, target, bytes);
  EXPECT_EQ(std::memcmp(target, bytes, 6), 0);
  copy_block(0, target, bytes + 1);
  EXPECT_EQ(target[0], 9);
  // Overlapping forward copy repeats the first byte, as a byte loop does.
  copy_block(5, bytes + 1, bytes);
  for (std::uint8_t b : bytes) EXPECT_EQ(b, 9);
}

namespace {

// Formats into a field with guard bytes on both sides; returns the field
// and checks the returned end and the guards.
std::string formatted(int value, int width) {
  char area[40];
  std::memset(area, '#', sizeof area);
  char* field = area + 8;
  char* end = format_decimal(value, width, field);
  EXPECT_EQ(end, field + (width > 0 ? width : 0));
  for (char* guard = area; guard < field; ++guard) EXPECT_EQ(*guard, '#');
  for (char* guard = end; guard < area + sizeof area; ++guard) EXPECT_EQ(*guard, '#');
  return std::string(field, end);
}

}  // namespace

TEST(FormatDecimal, RightAlignsWithTheSignAtTheLeftEdge) {
  EXPECT_EQ(formatted(42, 5), "   42");
  EXPECT_EQ(formatted(0, 3), "  0");
  EXPECT_EQ(formatted(-42, 5), "-  42");
  EXPECT_EQ(formatted(7, 1), "7");
  EXPECT_EQ(formatted(12345678, 8), "12345678");
  EXPECT_EQ(formatted(16777215, 8), "16777215");
  EXPECT_EQ(formatted(1234, 8), "    1234");
  EXPECT_EQ(formatted(INT_MIN, 11), "-2147483648");
  EXPECT_EQ(formatted(INT_MAX, 12), "  2147483647");
}

TEST(FormatDecimal, NeverWritesOutsideANarrowField) {
  EXPECT_EQ(formatted(123456789, 8), "********");
  EXPECT_EQ(formatted(-5, 1), "*");
  EXPECT_EQ(formatted(INT_MIN, 10), "**********");
  EXPECT_EQ(formatted(5, 0), "");
  EXPECT_EQ(formatted(5, -3), "");
}
