// The status line as a person sees it: laid out to the terminal's width
// with the name and the waiting notice kept readable, redrawn at most ten
// times a second but always ending on the final figures, and a port error
// on a line of its own below it. Redirected, the marks of a transfer are
// written as often, none lost and none out of order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "pclink/console.h"
#include "pclink/echo.h"
#include "pclink/platform/process.h"
#include "pclink/progress.h"
#include "pclink/serial_port.h"
#include "pclink/status_line.h"
#include "support/scripted_console.h"
#include "support/scripted_port.h"

namespace {

// What a terminal of columns width shows, name and details.
std::string laid_out(const std::string& name, const StatusLineParts& parts, std::size_t columns) {
  StatusLineLayout layout = lay_out_status_line(name, true, parts, columns - 1);
  return layout.name + layout.details;
}

StatusLineParts with_notice(StatusLineParts parts, bool relay) {
  StatusLineParts notice = waiting_notice_parts(relay);
  parts.notice = notice.notice;
  parts.short_notice = notice.short_notice;
  return parts;
}

const StatusLineParts fetch_with_a_retry = progress_figures(1012, unknown_total, 10.0, 1);
const std::string long_name = "a-rather-long-device-file-name-2026-12-31.TXT";

TEST(StatusLineLayout, At80ColumnsTheRateAndRetriesGoBeforeTheNoticeIsCut) {
  // Nothing waits: everything fits.
  EXPECT_EQ(laid_out("BIG.BIN", fetch_with_a_retry, 80), "BIG.BIN  1012 B  101 B/s  1 retry");
  // The device is silent: the name and the whole notice stay.
  EXPECT_EQ(laid_out("BIG.BIN", with_notice(fetch_with_a_retry, false), 80),
            "BIG.BIN  1012 B  waiting for the device... (no answer; gives up after 10 s)");
  // A long name keeps more than its share once the notice is short, and the
  // retries fit again beside the short notice.
  std::string line = laid_out(long_name, with_notice(fetch_with_a_retry, true), 80);
  EXPECT_EQ(line, "..." + long_name.substr(long_name.size() - 24) + "  1012 B  1 retry  no answer; retrying, Ctrl-C stops");
  EXPECT_LE(line.size(), 79u);
}

TEST(StatusLineLayout, At60ColumnsTheNameKeepsItsShareAndTheNoticeItsWords) {
  StatusLineParts send = with_notice(progress_figures(48 * 1024, 128 * 1024, 25.2, 3), false);
  EXPECT_EQ(laid_out("memo.txt", send, 60), "memo.txt  48.0 KiB  no answer; gives up after 10 s");
  std::string line = laid_out(long_name, with_notice(fetch_with_a_retry, true), 60);
  EXPECT_EQ(line, "..." + long_name.substr(long_name.size() - 13) + "  1012 B  no answer; retrying, Ctrl-C stops");
  // Without a notice the figures that fit stay, in their order.
  EXPECT_EQ(laid_out(long_name, progress_figures(48 * 1024, 128 * 1024, 25.2, 3), 60),
            "..." + long_name.substr(long_name.size() - 18) + "  48.0 KiB / 128.0 KiB  37%  3 retries");
}

TEST(StatusLineLayout, ANarrowTerminalCutsTheNoticeAfterAWord) {
  EXPECT_EQ(laid_out("BIG.BIN", with_notice(fetch_with_a_retry, false), 30), "BIG.BIN  no answer; gives...");
  // The notice alone, without a transfer under way.
  EXPECT_EQ(laid_out("", waiting_notice_parts(false), 60),
            "waiting for the device... (no answer; gives up after 10 s)");
  EXPECT_EQ(laid_out("", waiting_notice_parts(true), 40), "no answer; retrying, Ctrl-C stops");
}

// What a test writes on standard error, captured from SetUp on.
class CapturingStderr : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted_port::reset();
    scripted_console::reset();
    ::testing::internal::CaptureStderr();
  }
  void TearDown() override {
    shown();
    scripted_console::reset();
  }
  std::string shown() {
    if (!captured) {
      text = ::testing::internal::GetCapturedStderr();
      captured = true;
    }
    return text;
  }
  bool captured = false;
  std::string text;
};

// The console of a terminal (the scripted one: bytes as they are).
class OnScriptedTerminal : public CapturingStderr {
 protected:
  void SetUp() override {
    CapturingStderr::SetUp();
    scripted_console::act_as_terminal(80);
  }
};

TEST_F(OnScriptedTerminal, RedrawsAreAtMostTenASecondAndTheLastShowsTheFinalFigures) {
  begin_progress("BIG.BIN", unknown_total);
  // 80 Packets in 1.2 s, the last one 45 ms after a redraw.
  for (int packet = 1; packet <= 80; ++packet) {
    scripted_console::advance_clock(15);
    progress_mark(packet * 253LL);
  }
  print_line(" end", "");
  const std::string screen = shown();
  const auto redraws = std::count(screen.begin(), screen.end(), '\r');
  EXPECT_GE(redraws, 11) << screen;  // the line moves on while the transfer does
  EXPECT_LE(redraws, 14) << screen;  // but not 80 times
  const std::string last = screen.substr(screen.rfind('\r'));
  EXPECT_EQ(last.substr(0, last.find_last_not_of(' ', last.find('\n') - 1) + 1), "\rBIG.BIN  19.8 KiB  16.5 KiB/s");
  EXPECT_TRUE(screen.ends_with("\n end\n")) << screen;
}

TEST_F(OnScriptedTerminal, APortErrorStartsOnALineOfItsOwnBelowTheProgress) {
  open_port(1);
  begin_progress("BIG.BIN", unknown_total);
  progress_mark(12390);
  scripted_port::queue_read_failure(5);
  EXPECT_EQ(recv_raw(1000), -1);
  EXPECT_EQ(shown(), "\rBIG.BIN  0 B\rBIG.BIN  12.1 KiB\nr-error=5\n");
}

TEST_F(OnScriptedTerminal, ASilentDeviceShowsTheShortNoticeBesideTheNameAt60Columns) {
  scripted_console::act_as_terminal(60);
  open_port(1);
  echo_enabled = false;
  begin_progress(long_name.c_str(), unknown_total);
  progress_mark(1012);
  EXPECT_EQ(recv_raw(1000), -1);  // ten silent seconds, on the virtual clock
  EXPECT_EQ(shown(), "\r" + long_name + "  0 B\r..." + long_name.substr(long_name.size() - 16) +
                       "  1012 B  no answer; gives up after 10 s");
}

// Redirected: the bytes a script has always seen, in at most ten writes a
// second instead of one per Packet.
using Redirected = CapturingStderr;

TEST_F(Redirected, MarksAreWrittenTenTimesASecondAndAllBeforeTheNextMessage) {
  begin_host_file_progress("up.bin", 80 * 1012);
  int most_held = 0;
  int writes = 0;
  for (int packet = 1; packet <= 80; ++packet) {
    scripted_console::advance_clock(15);
    const int held_before = platform::held_marks_length;
    progress_mark(packet * 1012LL);
    if (platform::held_marks_length < held_before + 1) ++writes;
    most_held = std::max(most_held, static_cast<int>(platform::held_marks_length));
  }
  EXPECT_GE(writes, 10);     // a script reading the stream sees the transfer move
  EXPECT_LE(writes, 14);     // but not 80 writes for 80 Packets
  EXPECT_LE(most_held, 7);   // none waits longer than 100 ms while Packets flow
  print_line(" end", "");
  EXPECT_EQ(platform::held_marks_length, 0);
  EXPECT_EQ(shown(), "up.bin:" + std::string(80, 'o') + " end\n");
}

TEST_F(Redirected, ARepeatWritesWhatIsHeldSoAStalledLineShowsHowFarItGot) {
  progress_mark(1012);
  progress_mark(2024);
  EXPECT_EQ(platform::held_marks_length, 1);
  note_retry();
  EXPECT_EQ(platform::held_marks_length, 0);
  progress_extra_mark("T");  // due again only 100 ms after the last write
  EXPECT_EQ(platform::held_marks_length, 1);
  release_progress_marks();
  EXPECT_EQ(shown(), "ooT");
}

}  // namespace
