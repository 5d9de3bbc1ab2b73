// Bytes to and from the POSIX port: whole units per system call.
//
// A read waits in poll() (select() on macOS) with VMIN raised to the bytes
// the unit still needs and VTIME 0: the terminal then reports the port
// ready only once that many have come, so a unit trickling in at line speed
// wakes us once, and the wait keeps a time-out of its own to the
// millisecond. What has come is then read at once, without blocking, with
// whatever else had arrived behind it: a VMIN above 64 is lowered first,
// as Linux hands out only 64 bytes per read() of a terminal whose VMIN is
// higher, however many have come.
#include <algorithm>
#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

#include "pclink/platform/port.h"
#include "pclink/platform/posix/marked_input.h"
#include "pclink/platform/posix/port_transfers.h"
#include "pclink/platform/posix/wait.h"

namespace {

using platform::ReadResult;
using platform::Transfer;
using platform_posix::Direction;
using platform_posix::Wait;

// The line as set at open, with VMIN as last set on the port.
termios line_set{};
platform_posix::MarkedInput marks;

// The highest VMIN (a cc_t) that is a multiple of four: a longer unit is
// waited for in stretches.
constexpr int largest_wake_count = 252;
// The highest VMIN at which a read takes everything there is.
constexpr int largest_read_count = 64;

#ifdef __linux__
// The line with only VMIN changed: glibc's tcsetattr() reads the settings
// back before and after setting them, three system calls for one; the
// kernel's TCSETS takes the settings as they are (glibc's termios begins
// with the kernel's).
void set_line(int fd, const termios& line) {
  ioctl(fd, TCSETS, &line);
}
#else
void set_line(int fd, const termios& line) {
  tcsetattr(fd, TCSANOW, &line);
}
#endif

// A wake count that already takes a unit in few wakes: a read's first wait
// keeps it even where the unit is longer (see wake_after).
constexpr int fair_wake_count = 16;

// A count of four or more is rounded down to a multiple of four, so that
// waits of nearly one length (a block's echo with the block behind it)
// share one setting.
void set_wake_count(int fd, int vmin) {
  if (vmin >= 4) vmin -= vmin % 4;
  line_set.c_cc[VMIN] = static_cast<cc_t>(vmin);
  set_line(fd, line_set);
}

// Has a wait end only once at least some of the count bytes still needed
// are there: VMIN never above count, for the wait would then outlast the
// bytes. Each change of VMIN costs a system call, and the waits of a relay
// exchange alternate between the echo of a long frame and short blocks, so
// VMIN is raised only where that saves wakes: not while it is more than
// half of what is needed (at most one wake more); not for a read's first
// wait while it is fair (the bytes may well come in one piece); not when
// the last wake brought as many bytes as the raised VMIN would ask for (the
// line hands them over in pieces that large anyway, as a pseudo-terminal or
// a USB adapter at a long latency does).
void wake_after(int fd, int count, int last_piece) {
  const int current = line_set.c_cc[VMIN];
  const int raised = std::min(count, largest_wake_count);
  const bool first_wait = last_piece == 0;
  if (current <= count && (current == largest_wake_count || 2 * current > count ||
                           (first_wait ? current >= fair_wake_count : last_piece >= raised))) {
    return;
  }
  set_wake_count(fd, std::clamp(count, 1, largest_wake_count));
}

// Before a read after a wait with VMIN above what a read hands out whole:
// VMIN comes down to what the unit needs beyond the bytes the wait saw
// come, the count its next wait would ask for.
void let_the_read_take_all(int fd, int count) {
  const int current = line_set.c_cc[VMIN];
  if (current > largest_read_count) {
    set_wake_count(fd, std::clamp(count - current, 1, largest_read_count));
  }
}

long long gap_end(long long last_byte_at, int gap_ms) {
  return gap_ms > 0 ? last_byte_at + gap_ms : -1;
}

}  // namespace

namespace platform_posix {

void start_transfers(const termios& line) {
  line_set = line;
  marks = MarkedInput{};
}

}  // namespace platform_posix

namespace platform {

ReadResult read_bytes(std::uint8_t* buffer, std::uint8_t* damage, int capacity, const ReadLimits& limits) {
  const int fd = platform_posix::port_descriptor();
  if (fd < 0) {
    return {Transfer::failed, 0, EBADF};
  }
  const long long deadline = platform_posix::now_ms() + limits.timeout_ms;
  long long silent_until = gap_end(platform_posix::now_ms(), limits.gap_ms);
  int got = 0;
  int last_piece = 0;  // none yet: the read's first wait
  while (got < limits.wanted) {
    wake_after(fd, limits.wanted - got, last_piece);
    const long long until = silent_until >= 0 ? std::min(deadline, silent_until) : deadline;
    const platform_posix::WaitResult wait = platform_posix::wait_ready(fd, Direction::reading, until);
    if (wait.outcome == Wait::failed) {
      return {Transfer::failed, got, wait.error};
    }
    // Read what has come even when the wait ran out: fewer bytes than the
    // wake-up count do not make the port ready.
    let_the_read_take_all(fd, limits.wanted - got);
    const ssize_t count = ::read(fd, buffer + got, static_cast<std::size_t>(capacity - got));
    if (count > 0) {
      last_piece = static_cast<int>(count);
      got += platform_posix::decode_marked(buffer + got, damage + got, static_cast<int>(count), marks);
      silent_until = gap_end(platform_posix::now_ms(), limits.gap_ms);
      continue;
    }
    if (count == 0) {
      // Ready but nothing to read: the device has gone (an unplugged USB
      // adapter reads as end of file). That is a failure, not a time-out.
      return {Transfer::failed, got, EIO};
    }
    if (errno != EAGAIN && errno != EINTR) {
      return {Transfer::failed, got, errno};
    }
    // Nothing new: past the deadline or the gap the unit has stopped
    // coming; otherwise the wake-up was spurious and the wait goes on.
    const long long now = platform_posix::now_ms();
    if (now >= deadline || (silent_until >= 0 && now >= silent_until)) {
      return {Transfer::timed_out, got, 0};
    }
  }
  return {Transfer::done, got, 0};
}

WriteResult write_bytes(const std::uint8_t* bytes, int count, int timeout_ms) {
  const int fd = platform_posix::port_descriptor();
  if (fd < 0) {
    return {Transfer::failed, EBADF};
  }
  const long long deadline = platform_posix::now_ms() + timeout_ms;
  int written = 0;
  while (written < count) {
    const ssize_t done = ::write(fd, bytes + written, static_cast<std::size_t>(count - written));
    if (done > 0) {
      written += static_cast<int>(done);
      continue;
    }
    if (done < 0 && errno != EAGAIN && errno != EINTR) {
      return {Transfer::failed, errno};
    }
    const platform_posix::WaitResult wait = platform_posix::wait_ready(fd, Direction::writing, deadline);
    if (wait.outcome == Wait::timed_out) {
      return {Transfer::timed_out, 0};
    }
    if (wait.outcome == Wait::failed) {
      return {Transfer::failed, wait.error};
    }
  }
  return {Transfer::done, 0};
}

}  // namespace platform
