// The backup archive's group decoding and block reading.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qvunpack/archive_blocks.h"
#include "qvunpack/group_code.h"
#include "support/archive_writer.h"

namespace {

// Decodes a line into a buffer of exactly room bytes on the heap, so that a
// store past its end is caught by the address sanitizer.
std::string decoded(const std::string& line, int room = 4096) {
  auto buffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(room));
  std::uint8_t* end = decode_line(line.data(), static_cast<int>(line.size()), buffer.get(), buffer.get() + room);
  return std::string(reinterpret_cast<char*>(buffer.get()), static_cast<std::size_t>(end - buffer.get()));
}

std::string bytes_0_to_255() {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  return all;
}

}  // namespace

TEST(GroupCode, WorkedExamples) {
  EXPECT_EQ(decoded("789P"), "abc");
  EXPECT_EQ(decoded("zk"), "\xff");
  EXPECT_EQ(archive_writer::encode_line("abc"), "789P");
  EXPECT_EQ(archive_writer::encode_line("\xff"), "zk");
  EXPECT_EQ(decoded("789P78").size(), 4u);
  EXPECT_EQ(decoded(""), "");
  EXPECT_EQ(std::string(group_characters), archive_writer::alphabet);
}

TEST(GroupCode, WorkedDirectoryLineBothWays) {
  std::string directory(6, '\0');
  directory += "MEMO    .TXT";
  directory += std::string(5, '\0') + "\x03" + std::string(2, '\0');
  const std::string line = "00000000H5HPJ66K66i0OSOP00000030000";
  EXPECT_EQ(decoded(line), directory);
  EXPECT_EQ(archive_writer::encode_line(directory), line);
  EXPECT_EQ(archive_writer::directory({{"MEMO    .TXT", "abc"}}), directory);
}

TEST(GroupCode, EveryByteValueAndEveryLineLengthRoundTrips) {
  std::string all = bytes_0_to_255() + bytes_0_to_255() + bytes_0_to_255() + bytes_0_to_255();
  for (std::size_t count = 0; count <= 40; ++count) {
    std::string bytes = all.substr(count * 7 % 256, count);
    std::string line = archive_writer::encode_line(bytes);
    EXPECT_EQ(static_cast<int>(line.size()) % 4, count % 3 == 0 ? 0 : static_cast<int>(count % 3) + 1);
    EXPECT_EQ(decoded(line), bytes) << "count " << count;
    EXPECT_EQ(line_byte_count(line.data(), static_cast<int>(line.size())), static_cast<int>(count));
  }
  std::string longest = all.substr(0, archive_writer::max_bytes_per_line);
  std::string line = archive_writer::encode_line(longest);
  EXPECT_EQ(line.size(), 1023u);
  EXPECT_EQ(decoded(line), longest);
}

TEST(GroupCode, ShortGroupInsideALineStillAdvancesFourCharacters) {
  // "7P" then two characters without a value: one byte, then "789P".
  EXPECT_EQ(decoded("7P!!789P"), "aabc");
  EXPECT_EQ(decoded("78O!789P"), "ab" "abc");
}

TEST(GroupCode, MalformedGroupsNeverIndexPastTheirTables) {
  // A first or second character without a value counts as 0.
  EXPECT_EQ(decoded("7#9P"), "a@c");
  EXPECT_EQ(decoded("#\xff" "00"), std::string(3, '\0'));
  // A lone last character is a one-byte group of its own value.
  EXPECT_EQ(decoded("789P7"), "abc!");
  EXPECT_EQ(decoded("z"), "\x3f");
  // Every character code in every position, against the counting routine.
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string line(random() % 13, '\0');
    for (char& c : line) c = static_cast<char>(random() % 256);
    std::string bytes = decoded(line);
    EXPECT_EQ(static_cast<int>(bytes.size()), line_byte_count(line.data(), static_cast<int>(line.size())));
  }
}

TEST(GroupCode, StopsAtTheEndOfTheRoom) {
  std::string bytes = bytes_0_to_255();
  std::string line = archive_writer::encode_line(bytes);
  for (int room : {0, 1, 2, 3, 4, 5, 100, 255}) {
    EXPECT_EQ(decoded(line, room), bytes.substr(0, static_cast<std::size_t>(room)));
  }
  EXPECT_EQ(decoded("7P", 0), "");
  EXPECT_EQ(decoded("78O", 1), "a");
}

namespace {

// An archive text on a FileRef, through a temporary file.
class ArchiveText {
 public:
  explicit ArchiveText(const std::string& text) {
    ref_.stream = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), ref_.stream);
    std::rewind(ref_.stream);
  }
  ~ArchiveText() { std::fclose(ref_.stream); }
  FileRef& ref() { return ref_; }

 private:
  FileRef ref_{};
};

struct Decoded {
  std::string bytes;
  BlockResult result;
};

Decoded next_block(FileRef& archive, int capacity = 100000) {
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(capacity));
  BlockResult result = decode_block(archive, buffer.data(), capacity);
  return {std::string(buffer.begin(), buffer.begin() + result.length), result};
}

}  // namespace

TEST(ArchiveBlocks, HeadersAndEmptyLinesCarryNothing) {
  ArchiveText text("PABAK header\r\n789P\r\n\r\nPABAKxyz\n78O\r\n\x1aPABAK and more\r\nzk\r\n\x1aPABAK\r\n");
  Decoded first = next_block(text.ref());
  EXPECT_EQ(first.bytes, "abcab");
  EXPECT_TRUE(first.result.good_end);
  EXPECT_FALSE(first.result.overflowed);
  Decoded second = next_block(text.ref());
  EXPECT_EQ(second.bytes, "\xff");
  EXPECT_TRUE(second.result.good_end);
  // Past the end of the file: nothing, badly ended.
  Decoded none = next_block(text.ref());
  EXPECT_EQ(none.result.length, 0);
  EXPECT_FALSE(none.result.good_end);
}

TEST(ArchiveBlocks, BadEndings) {
  ArchiveText text("789P\n\x1a\n789P\n\x1aPABA\n789P\n\x1a PABAK\n789P");
  for (int block = 0; block < 4; ++block) {
    Decoded decoded_block = next_block(text.ref());
    EXPECT_EQ(decoded_block.bytes, "abc");
    EXPECT_FALSE(decoded_block.result.good_end) << "block " << block;
  }
}

TEST(ArchiveBlocks, LongBlockIsReadToItsEndButStoredOnlyToCapacity) {
  std::string bytes(2000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
  archive_writer::Layout layout;
  ArchiveText text(archive_writer::block(bytes, layout) + archive_writer::block("abc", layout));
  Decoded cut = next_block(text.ref(), 1000);
  EXPECT_EQ(cut.bytes, bytes.substr(0, 1000));
  EXPECT_TRUE(cut.result.overflowed);
  EXPECT_TRUE(cut.result.good_end);
  Decoded next = next_block(text.ref());
  EXPECT_EQ(next.bytes, "abc");
  EXPECT_FALSE(next.result.overflowed);
}

TEST(ArchiveBlocks, ExactFitIsNoOverflow) {
  archive_writer::Layout layout;
  ArchiveText text(archive_writer::block(std::string(570, 'x'), layout));
  Decoded fit = next_block(text.ref(), 570);
  EXPECT_EQ(fit.result.length, 570);
  EXPECT_FALSE(fit.result.overflowed);
}

TEST(ArchiveBlocks, NoRoomDiscardsABlock) {
  ArchiveText text("789P\n789P\n\x1aPABAK\nzk\n\x1aPABAK\n");
  BlockResult skipped = decode_block(text.ref(), nullptr, 0);
  EXPECT_EQ(skipped.length, 0);
  EXPECT_TRUE(skipped.good_end);
  EXPECT_TRUE(skipped.overflowed);
  EXPECT_EQ(next_block(text.ref()).bytes, "\xff");
}
