#include "pclink/platform/posix/wait.h"

#include <cerrno>
#include <ctime>

#if defined(__APPLE__) || defined(QV_WAIT_WITH_SELECT)
#define QV_WAITS_IN_SELECT 1
#include <sys/select.h>
#else
#include <poll.h>
#endif

namespace platform_posix {

long long now_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

namespace {

int milliseconds_left(long long deadline) {
  long long remaining = deadline - now_ms();
  return remaining < 0 ? 0 : static_cast<int>(remaining);
}

#ifdef QV_WAITS_IN_SELECT

// One wait of at most wait_ms: 1 ready, 0 nothing, -1 error (errno set).
// select() reports an error condition or a hang-up as readiness; the read or
// write that follows then fails and says why.
int wait_once(int fd, Direction direction, int wait_ms) {
  if (fd < 0 || fd >= FD_SETSIZE) {
    errno = EBADF;
    return -1;
  }
  fd_set watched;
  FD_ZERO(&watched);
  FD_SET(fd, &watched);
  timeval wait{wait_ms / 1000, static_cast<decltype(timeval::tv_usec)>((wait_ms % 1000) * 1000)};
  bool reading = direction == Direction::reading;
  int ready = select(fd + 1, reading ? &watched : nullptr, reading ? nullptr : &watched, nullptr, &wait);
  return ready > 0 ? 1 : ready;
}

#else

int wait_once(int fd, Direction direction, int wait_ms) {
  short wanted = direction == Direction::reading ? POLLIN : POLLOUT;
  pollfd watch{fd, wanted, 0};
  int ready = poll(&watch, 1, wait_ms);
  if (ready <= 0) {
    return ready;
  }
  if ((watch.revents & POLLNVAL) != 0) {
    errno = EBADF;
    return -1;
  }
  // A hang-up with bytes still to read is ready: they are read first.
  if ((watch.revents & POLLERR) != 0 || (watch.revents & wanted) == 0) {
    errno = EIO;
    return -1;
  }
  return 1;
}

#endif

}  // namespace

WaitResult wait_ready(int fd, Direction direction, long long deadline) {
  for (;;) {
    int ready = wait_once(fd, direction, milliseconds_left(deadline));
    if (ready > 0) {
      return {Wait::ready, 0};
    }
    if (ready == 0) {
      // select() may come back early; only the clock says the time is up.
      if (milliseconds_left(deadline) == 0) {
        return {Wait::timed_out, 0};
      }
      continue;
    }
    if (errno != EINTR) {
      return {Wait::failed, errno};
    }
  }
}

}  // namespace platform_posix
