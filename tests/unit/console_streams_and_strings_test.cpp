// The local files layer's console streams and string routines.
#include "pclink/local_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

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
