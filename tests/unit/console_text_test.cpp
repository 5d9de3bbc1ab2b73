// Text for a person's terminal: escaping of device and user text, and the
// progress line's figures.
#include <gtest/gtest.h>

#include <string>

#include "pclink/progress.h"
#include "pclink/status_line.h"
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

// The figures as a wide terminal shows them, one after the other.
std::string figures_shown(long long done, long long total, double elapsed_seconds, int retries = 0) {
  StatusLineParts parts = progress_figures(done, total, elapsed_seconds, retries);
  return lay_out_status_line("", false, parts, 200).details;
}

TEST(TerminalText, AHostNameOfNoKnownSetIsToldByItsShiftJisShapeOrShownInAscii) {
  const std::string memo = "\x83\x81\x83\x82.bas";  // メモ.bas
  EXPECT_TRUE(is_well_formed_shift_jis(memo.data(), memo.size()));
  EXPECT_TRUE(is_well_formed_shift_jis("\xb1\x1b", 2));  // half-width kana; a control is escaped anyway
  EXPECT_FALSE(is_well_formed_shift_jis("\x83\x1b", 2));  // a lead byte without its second
  EXPECT_FALSE(is_well_formed_shift_jis("\xff.bas", 5));
  EXPECT_EQ(escaped_above_ascii("\xff\xe3\x83.b\x1b" "as", 8), "\\xff\\xe3\\x83.b\\x1bas");
}

TEST(ProgressLine, ASendShowsTotalPercentRateAndTimeLeft) {
  EXPECT_EQ(figures_shown(48 * 1024, 128 * 1024, 25.2), "48.0 KiB / 128.0 KiB  37%  1.9 KiB/s  0:42 left");
  EXPECT_EQ(figures_shown(128 * 1024, 128 * 1024, 67.0), "128.0 KiB / 128.0 KiB  100%  1.9 KiB/s  0:00 left");
}

TEST(ProgressLine, TheFirstSecondShowsNoRateAndAnUnknownTotalNoPercent) {
  EXPECT_EQ(figures_shown(253, 1000, 0.2), "253 B / 1000 B  25%");
  EXPECT_EQ(figures_shown(3000, unknown_total, 2.0), "2.9 KiB  1.5 KiB/s");
  EXPECT_EQ(figures_shown(0, 0, 5.0), "0 B / 0 B  100%");
}

TEST(StatusLineName, ALongNameKeepsItsEndAndNeverSplitsACharacter) {
  EXPECT_EQ(name_fitted_to("memo.txt", true, 8), "memo.txt");
  EXPECT_EQ(name_fitted_to("a-long-report-2026-12.txt", true, 12), "...26-12.txt");
  // "メモ帳.TXT": the cut that would fall on the second byte of "帳" moves on.
  const std::string memo = "\x83\x81\x83\x82\x92\xa0.TXT";
  EXPECT_EQ(name_fitted_to(memo, true, 9), "...\x92\xa0.TXT");
  EXPECT_EQ(name_fitted_to(memo, true, 8), "....TXT");
  // In UTF-8 a cut may begin at any character, never at a byte inside one:
  // a name all in Japanese keeps its last characters, not just ".bas".
  EXPECT_EQ(name_fitted_to("caf\xc3\xa9-notes", false, 10), "...-notes");
  EXPECT_EQ(name_fitted_to("caf\xc3\xa9-notes", false, 9), "...-notes");
  EXPECT_EQ(name_fitted_to("caf\xc3\xa9-notes", false, 11), "caf\xc3\xa9-notes");
  const std::string japanese = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe5\x90\x8d\xe5\x89\x8d.bas";  // 日本語の名前.bas
  EXPECT_EQ(name_fitted_to(japanese, false, 14), "...\xe5\x90\x8d\xe5\x89\x8d.bas");
  EXPECT_EQ(name_fitted_to(japanese, false, 12), "...\xe5\x89\x8d.bas");
  // In another encoding of the user's (here EUC-JP, "名前.bas") only an
  // ASCII byte after another begins a cut.
  EXPECT_EQ(name_fitted_to("\xcc\xbe\xc1\xb0.bas", false, 7), "...bas");
  // No room for a character after the cut mark: no name at all.
  EXPECT_EQ(name_fitted_to("memo.txt", true, 3), "");
}

TEST(ProgressLine, RepeatsAreCountedInWords) {
  EXPECT_EQ(progress_figures(10, 20, 0.5, 0).retries, "");
  EXPECT_EQ(progress_figures(10, 20, 0.5, 1).retries, "1 retry");
  EXPECT_EQ(progress_figures(10, 20, 0.5, 17).retries, "17 retries");
  EXPECT_EQ(figures_shown(10, 20, 0.5, 2), "10 B / 20 B  50%  2 retries");
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
