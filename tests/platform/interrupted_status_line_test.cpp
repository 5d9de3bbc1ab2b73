// An interrupt that comes while a status line is on the terminal, at any
// moment of its drawing, rewriting, clearing or ending, prints its line at
// the start of a clear line: never run on from the figures or the waiting
// notice, never over them.
//
// The child's standard error stream is replaced by one that writes each
// piece stdio hands it to the descriptor and raises the interrupt just
// before or just after the chosen piece, so every moment between two pieces
// is tried in turn without any timing.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "pclink/console.h"
#include "pclink/platform/process.h"
#include "pclink/progress.h"
#include "pclink/status_line.h"
#include "platform/child_process.h"

namespace {

struct InterruptAt {
  int piece = 0;
  bool after = false;
};
InterruptAt interrupt_at;
int pieces_written = 0;

ssize_t write_piece(void*, const char* data, std::size_t size) {
  const bool here = ++pieces_written == interrupt_at.piece;
  if (here && !interrupt_at.after) raise(SIGINT);
  const ssize_t written = write(STDERR_FILENO, data, size);
  if (here && interrupt_at.after) raise(SIGINT);
  return written;
}

// Standard error is taken for a terminal, as a pseudo-terminal is, and
// then written to the pipe the test reads, piece by piece.
bool stand_in_for_a_terminal() {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return false;
  const int screen = open(ptsname(terminal), O_RDWR | O_NOCTTY);
  const int pipe_end = dup(STDERR_FILENO);
  if (screen < 0 || pipe_end < 0 || dup2(screen, STDERR_FILENO) < 0) return false;
  reset_console_state();
  const bool taken = console_is_terminal(ConsoleStream::error);
  if (dup2(pipe_end, STDERR_FILENO) < 0) return false;
  cookie_io_functions_t calls{nullptr, write_piece, nullptr, nullptr};
  FILE* pieces = fopencookie(nullptr, "w", calls);
  if (pieces == nullptr || setvbuf(pieces, nullptr, _IONBF, 0) != 0) return false;
  stderr = pieces;
  return taken;
}

// A transfer's line grows, shrinks, shows the waiting notice, is cleared,
// and a listing's line is ended by a message.
int show_lines(InterruptAt at) {
  interrupt_at = at;
  if (!stand_in_for_a_terminal()) return 5;
  platform::catch_interrupts();
  show_status_line("BIG.BIN", TextOrigin::user, progress_figures(0, 4096, 0.0, 0), StatusRedraw::at_once);
  show_status_line("BIG.BIN", TextOrigin::user, progress_figures(2048, 4096, 1000.0, 2), StatusRedraw::at_once);
  StatusLineParts waiting = progress_figures(2048, 4096, 1000.0, 2);
  const StatusLineParts notice = waiting_notice_parts(true);
  waiting.notice = notice.notice;
  waiting.short_notice = notice.short_notice;
  show_status_line("BIG.BIN", TextOrigin::user, waiting, StatusRedraw::at_once);
  show_status_line("BIG.BIN", TextOrigin::user, progress_figures(4096, 4096, 1000.0, 2), StatusRedraw::at_once);
  clear_status_line();
  show_status_line("", TextOrigin::user, waiting_notice_parts(false), StatusRedraw::at_once);
  print_line("TimeOut", "");
  return 3;  // every piece went out without the interrupt
}

// Whether the cursor stands at the start of a line that shows nothing, as
// the terminal draws what was written: a return goes back to the first
// column and later characters overwrite earlier ones.
bool at_the_start_of_a_clear_line(const std::string& screen) {
  const std::size_t newline = screen.rfind('\n');
  const std::string line = newline == std::string::npos ? screen : screen.substr(newline + 1);
  std::string shown;
  std::size_t column = 0;
  for (char character : line) {
    if (character == '\r') {
      column = 0;
      continue;
    }
    if (column < shown.size()) {
      shown[column] = character;
    } else {
      shown.push_back(character);
    }
    ++column;
  }
  return column == 0 && shown.find_first_not_of(' ') == std::string::npos;
}

TEST(InterruptedStatusLine, TheInterruptLineStartsAClearLineWhateverMomentItComes) {
  int tried = 0;
  for (int piece = 1; piece < 1000; ++piece) {
    bool all_written = false;
    for (bool after : {false, true}) {
      SCOPED_TRACE("piece " + std::to_string(piece) + (after ? ", after" : ", before"));
      Child child = start_child([&](int) { return show_lines({piece, after}); });
      Ending ending = wait_for_end(child, 5000);
      ASSERT_TRUE(ending.ended);
      ASSERT_TRUE(WIFEXITED(ending.status)) << ending.status;
      if (WEXITSTATUS(ending.status) == 3) {
        all_written = true;
        EXPECT_TRUE(ending.err.ends_with("\nTimeOut\n")) << ending.err;
        break;
      }
      ASSERT_EQ(WEXITSTATUS(ending.status), 130) << ending.err;
      ++tried;
      const std::size_t interrupted = ending.err.rfind("Interrupted\n");
      ASSERT_NE(interrupted, std::string::npos) << ending.err;
      EXPECT_EQ(interrupted + 12, ending.err.size()) << ending.err;
      EXPECT_TRUE(at_the_start_of_a_clear_line(ending.err.substr(0, interrupted))) << ending.err;
    }
    if (all_written) break;
  }
  // The lines above take many pieces: each moment among them was tried.
  EXPECT_GT(tried, 20);
}

}  // namespace
