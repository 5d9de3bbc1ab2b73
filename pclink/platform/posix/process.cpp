// The process on POSIX hosts: its pauses, its end, and its interrupts.
// SIGINT, SIGTERM, SIGHUP, SIGPIPE and SIGQUIT end the run at once, but
// cleanly, and so does an abort (an uncaught exception such as bad_alloc).
// The handler uses only async-signal-safe calls (unlink, tcsetattr, ioctl,
// close, write, sigaction, sigprocmask, raise, _exit): it may arrive in the
// middle of a buffered write or a memory allocation, so the standard
// library's streams and exit path are out of its reach.
#include "pclink/platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "pclink/messages.h"
#include "pclink/platform/port.h"
#include "pclink/platform/posix/signals.h"

namespace {

const char* interrupt_line(int signal_number) {
  switch (signal_number) {
    case SIGINT:
      return msg("interrupted").system;
    case SIGHUP:
      return msg("hangup").system;
    default:
      return msg("terminated").system;
  }
}

// SIGQUIT asks for a core dump, and an abort is a fault worth one: once the
// run is cleaned up, each ends by its own default action, so that the shell
// and a debugger see what ended the process.
[[noreturn]] void end_by_default_action(int signal_number) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(signal_number, &default_action, nullptr);
  sigset_t raised;
  sigemptyset(&raised);
  sigaddset(&raised, signal_number);
  sigprocmask(SIG_UNBLOCK, &raised, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);  // not reached: the default action ends the process
}

void end_on_interrupt(int signal_number) {
  // A save under way is abandoned: its target keeps the old contents.
  for (int noted = 0; noted < platform::most_noted_temporary_files; ++noted) {
    if (const char* temporary = platform::noted_temporary_file(noted); temporary != nullptr) {
      unlink(temporary);
    }
  }
  platform::abandon_port();
  // The reader of standard output has gone (qvdir | head): the run ends as
  // cleanly, but without a word, since the user chose to stop reading.
  if (signal_number == SIGPIPE) {
    _exit(128 + signal_number);
  }
  // The marks held back are the run's, written as far as it went.
  if (platform::held_marks_length > 0) {
    ssize_t marked = write(STDERR_FILENO, platform::held_marks, static_cast<std::size_t>(platform::held_marks_length));
    (void)marked;
  }
  // A progress line on the terminal is not ended by a newline of its own.
  if (platform::status_line_open != 0) {
    ssize_t ended = write(STDERR_FILENO, "\n", 1);
    (void)ended;
  }
  if (signal_number == SIGQUIT || signal_number == SIGABRT) {
    end_by_default_action(signal_number);
  }
  const char* line = interrupt_line(signal_number);
  ssize_t written = write(STDERR_FILENO, line, std::strlen(line));
  written = write(STDERR_FILENO, "\n", 1);
  (void)written;  // nothing more can be done about a lost message here
  _exit(128 + signal_number);
}

}  // namespace

namespace platform {

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = end_on_interrupt;
  // One interrupt at a time: a second signal waits until the first has
  // ended the process.
  sigemptyset(&action.sa_mask);
  for (int blocked : platform_posix::interrupt_signals) {
    sigaddset(&action.sa_mask, blocked);
  }
  for (int caught : platform_posix::interrupt_signals) {
    struct sigaction previous {};
    // A signal ignored when the program started (nohup, a background job of
    // a shell without job control) stays ignored.
    if (sigaction(caught, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(caught, &action, nullptr);
  }
  // An abort is not held off with the interrupts: abort() lets it through
  // whatever the mask.
  sigaction(SIGABRT, &action, nullptr);
  // Over a file-size limit a write now fails with EFBIG instead of the
  // process being killed, so the save is abandoned like any failed write.
  signal(SIGXFSZ, SIG_IGN);
}

void sleep_ms(int milliseconds) {
  timespec pause{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void end_process(int code) {
  std::exit(code);
}

}  // namespace platform
