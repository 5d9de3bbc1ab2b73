// Host files read through the local files layer: opened, read by block or
// by text line, and loaded whole.
#include "pclink/local_files.h"
#include "unit/local_files_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace local_files_test;

struct FreeBlock {
  void operator()(std::uint8_t* block) const { std::free(block); }
};
using Block = std::unique_ptr<std::uint8_t, FreeBlock>;

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
