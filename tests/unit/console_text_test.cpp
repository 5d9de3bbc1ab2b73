// Text for a person's terminal: escaping of device and user text, and the
// progress line's figures.
#include <gtest/gtest.h>

#include <string>

#include "pclink/progress.h"
#include "pclink/terminal_text.h"

namespace {

std::string shift_jis_shown(const std::string& text) {
  return escaped_shift_jis(text.data(), text.size());
}

TEST(TerminalText, ShiftJisKeepsCharactersAndEscapesWhatCouldActOnTheTerminal) {
  // "メモ" and half-width kana stay; TAB, CR and LF stay.
  EXPECT_EQ(shift_jis_shown("\x83\x81\x83\x82 \xb1\t\r\n"), "\x83\x81\x83\x82 \xb1\t\r\n");
  EXPECT_EQ(shift_jis_shown("\x1b[2J\x07\x7f"), "\\x1b[2J\\x07\\x7f");
  EXPECT_EQ(shift_jis_shown(std::string("a\0b", 3)), "a\\x00b");
  // Bytes that begin no character: 0x80 (a C1 control once converted), 0xA0, 0xFD..0xFF.
  EXPECT_EQ(shift_jis_shown("\x80\xa0\xfd\xff"), "\\x80\\xa0\\xfd\\xff");
  // A lead byte whose second byte cannot follow it, or that ends the text,
  // is escaped alone; what follows is looked at afresh.
  EXPECT_EQ(shift_jis_shown("\x83\x1b"), "\\x83\\x1b");
  EXPECT_EQ(shift_jis_shown("ab\x83"), "ab\\x83");
  // A second byte in the control range is never taken into a character.
  EXPECT_EQ(shift_jis_shown("\x83\x0a"), "\\x83\n");
}

TEST(TerminalText, UserTextKeepsEveryByteButControls) {
  std::string name = "caf\xc3\xa9\x1b.txt";
  EXPECT_EQ(escaped_user_text(name.data(), name.size()), "caf\xc3\xa9\\x1b.txt");
}

TEST(ProgressLine, ASendShowsTotalPercentRateAndTimeLeft) {
  EXPECT_EQ(progress_details(48 * 1024, 128 * 1024, 25.2), "48.0 KiB / 128.0 KiB  37%  1.9 KiB/s  0:42 left");
  EXPECT_EQ(progress_details(128 * 1024, 128 * 1024, 67.0), "128.0 KiB / 128.0 KiB  100%  1.9 KiB/s  0:00 left");
}

TEST(ProgressLine, TheFirstSecondShowsNoRateAndAnUnknownTotalNoPercent) {
  EXPECT_EQ(progress_details(253, 1000, 0.2), "253 B / 1000 B  25%");
  EXPECT_EQ(progress_details(3000, unknown_total, 2.0), "2.9 KiB  1.5 KiB/s");
  EXPECT_EQ(progress_details(0, 0, 5.0), "0 B / 0 B  100%");
}

TEST(ProgressLine, SizesAndDurationsReadAsAPersonWritesThem) {
  EXPECT_EQ(size_text(1023), "1023 B");
  EXPECT_EQ(size_text(1536), "1.5 KiB");
  EXPECT_EQ(size_text(3 * 1024 * 1024), "3.0 MiB");
  EXPECT_EQ(duration_text(59), "0:59");
  EXPECT_EQ(duration_text(725), "12:05");
  EXPECT_EQ(duration_text(3723), "1:02:03");
}

}  // namespace
