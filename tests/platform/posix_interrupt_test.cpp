// Interrupts end a run cleanly: the temporary file of a save is removed, the
// line is put back as found, one line is printed (none when the reader of
// the output went away) and the exit code is 128 + the signal. A file-size
// limit fails a write instead of killing the run.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <fcntl.h>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pclink/console.h"
#include "pclink/file_saves.h"
#include "pclink/local_files.h"
#include "pclink/platform/port.h"
#include "pclink/platform/process.h"
#include "platform/child_process.h"
#include "platform/interposed_calls.h"
#include "platform/pty_fixture.h"
#include "support/test_files.h"

namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

TEST_F(Pty, AnInterruptRemovesTheSaveUnderWayPutsTheLineBackAndEndsWith128PlusTheSignal) {
  struct Case {
    int signal_number;
    const char* line;
  };
  // SIGPIPE: the reader of standard output went away; nothing is said.
  for (const Case& c : {Case{SIGINT, "Interrupted\n"}, Case{SIGTERM, "Terminated\n"}, Case{SIGHUP, "Hangup\n"},
                        Case{SIGPIPE, ""}}) {
    SCOPED_TRACE(c.line);
    termios found = hold_line_as_a_terminal();
    std::string temporary = "/tmp/qv-interrupt-" + std::to_string(getpid()) + ".tmp";
    FILE* partial = std::fopen(temporary.c_str(), "wb");
    ASSERT_NE(partial, nullptr);
    std::fclose(partial);

    Child child = start_child([&](int ready_fd) {
      platform::catch_interrupts();
      platform::note_temporary_file(temporary.c_str());
      if (platform::open_port(slave_path.c_str(), {19200, false}).failure != platform::OpenFailure::none) {
        return 3;
      }
      say_ready(ready_fd);
      read_one(30000);  // the device says nothing: waits here
      return 4;
    });
    ASSERT_TRUE(wait_until_ready(child, 5000));
    kill(child.pid, c.signal_number);
    Ending ending = wait_for_end(child, 5000);

    ASSERT_TRUE(ending.ended);
    ASSERT_TRUE(WIFEXITED(ending.status)) << ending.status;
    EXPECT_EQ(WEXITSTATUS(ending.status), 128 + c.signal_number);
    EXPECT_EQ(ending.err, c.line);
    EXPECT_FALSE(exists(temporary));
    expect_same_line(found, held_line());
    unlink(temporary.c_str());
    close(holder);
    holder = -1;
  }
}

// What an exception that nothing catches ends in: std::terminate, then
// abort(). Out of line, so that the compiler sees no throw in a noexcept
// function.
[[noreturn]] __attribute__((noinline)) void run_out_of_memory() {
  throw std::bad_alloc();
}
void fail_where_nothing_catches() noexcept {
  run_out_of_memory();
}

// Ctrl-\ and an abort (an uncaught bad_alloc) clean up as an interrupt does,
// then end by the signal itself, as the shell and a debugger expect.
TEST_F(Pty, AQuitOrAnAbortRemovesTheSaveUnderWayPutsTheLineBackAndEndsByItsSignal) {
  for (int signal_number : {SIGQUIT, SIGABRT}) {
    SCOPED_TRACE(signal_number);
    termios found = hold_line_as_a_terminal();
    std::string temporary = "/tmp/qv-quit-" + std::to_string(getpid()) + ".tmp";
    FILE* partial = std::fopen(temporary.c_str(), "wb");
    ASSERT_NE(partial, nullptr);
    std::fclose(partial);

    Child child = start_child([&](int ready_fd) {
      rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      platform::catch_interrupts();
      platform::note_temporary_file(temporary.c_str());
      if (platform::open_port(slave_path.c_str(), {19200, false}).failure != platform::OpenFailure::none) {
        return 3;
      }
      if (signal_number == SIGABRT) fail_where_nothing_catches();
      say_ready(ready_fd);
      read_one(30000);
      return 4;
    });
    if (signal_number == SIGQUIT) {
      ASSERT_TRUE(wait_until_ready(child, 5000));
      kill(child.pid, SIGQUIT);
    }
    Ending ending = wait_for_end(child, 5000);

    ASSERT_TRUE(ending.ended);
    ASSERT_TRUE(WIFSIGNALED(ending.status)) << ending.status << ending.err;
    EXPECT_EQ(WTERMSIG(ending.status), signal_number);
    EXPECT_FALSE(exists(temporary));
    expect_same_line(found, held_line());
    unlink(temporary.c_str());
    close(holder);
    holder = -1;
  }
}

// Ctrl-C just after a save's temporary file came into being, before it was
// noted for the handler: it is held off until the note is taken, and the
// file goes with the interrupt.
TEST(Interrupts, AnInterruptAsTheTemporaryFileIsCreatedStillRemovesIt) {
  const std::filesystem::path folder = make_temp_folder("qv-interrupt-window");
  ASSERT_FALSE(folder.empty());
  const std::string target = (folder / "kept.txt").string();
  std::ofstream(target, std::ios::binary) << "old";

  Child child = start_child([&](int) {
    platform::catch_interrupts();
    interposed::fchmod_signal = SIGINT;  // the new file takes the old one's permissions
    const std::uint8_t fresh[] = {'n', 'e', 'w'};
    save_file_whole(target.c_str(), fresh, 3);
    return 3;
  });
  Ending ending = wait_for_end(child, 5000);

  ASSERT_TRUE(ending.ended);
  ASSERT_TRUE(WIFEXITED(ending.status)) << ending.status;
  EXPECT_EQ(WEXITSTATUS(ending.status), 130);
  EXPECT_EQ(ending.err, "Interrupted\n");
  EXPECT_EQ(folder_entries(folder), std::set<std::string>{"kept.txt"});
  EXPECT_EQ(read_whole_file(target), "old");
  std::filesystem::remove_all(folder);
}

TEST(Interrupts, AFileSizeLimitFailsTheWriteInsteadOfEndingTheProgram) {
  std::string path = "/tmp/qv-size-limit-" + std::to_string(getpid());
  Child child = start_child([&](int) {
    platform::catch_interrupts();
    rlimit limit{16, 16};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
      return 5;
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char block[64] = {};
    ssize_t first = write(fd, block, sizeof block);   // cut at the limit
    ssize_t second = write(fd, block, sizeof block);  // nothing more fits
    return first == 16 && second == -1 && errno == EFBIG ? 0 : 3;
  });
  Ending ending = wait_for_end(child, 5000);
  unlink(path.c_str());
  ASSERT_TRUE(ending.ended);
  ASSERT_TRUE(WIFEXITED(ending.status)) << "ended by signal " << WTERMSIG(ending.status);
  EXPECT_EQ(WEXITSTATUS(ending.status), 0);
}

TEST(Interrupts, ASignalIgnoredWhenTheProgramStartedStaysIgnored) {
  Child child = start_child([](int) {
    signal(SIGHUP, SIG_IGN);  // as nohup starts a program
    platform::catch_interrupts();
    raise(SIGHUP);
    return 0;
  });
  Ending ending = wait_for_end(child, 5000);
  ASSERT_TRUE(ending.ended);
  ASSERT_TRUE(WIFEXITED(ending.status)) << ending.status;
  EXPECT_EQ(WEXITSTATUS(ending.status), 0);
  EXPECT_EQ(ending.err, "");
}

// Progress marks held back by the pace belong to the run: an interrupt
// writes them before its line, and the end of the process writes them too.
TEST(Interrupts, MarksHeldBackAreWrittenBeforeTheInterruptLineAndAtTheEnd) {
  for (bool interrupted : {true, false}) {
    SCOPED_TRACE(interrupted ? "interrupted" : "ended");
    Child child = start_child([&](int ready_fd) {
      platform::catch_interrupts();
      reset_console_state();
      for (int mark = 0; mark < 50; ++mark) print_progress_mark("o");
      if (platform::held_marks_length == 0) return 5;  // none held back: nothing to show here
      if (!interrupted) std::exit(0);  // as a return from main does
      say_ready(ready_fd);
      pause();  // until the signal; wait_for_end bounds it
      return 4;
    });
    if (interrupted) {
      ASSERT_TRUE(wait_until_ready(child, 5000));
      kill(child.pid, SIGINT);
    }
    Ending ending = wait_for_end(child, 5000);
    ASSERT_TRUE(ending.ended);
    ASSERT_TRUE(WIFEXITED(ending.status)) << ending.status;
    EXPECT_EQ(WEXITSTATUS(ending.status), interrupted ? 130 : 0);
    EXPECT_EQ(ending.err, std::string(50, 'o') + (interrupted ? "Interrupted\n" : ""));
  }
}

}  // namespace
