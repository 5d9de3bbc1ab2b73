// The serial port on POSIX hosts (Linux, macOS): termios, poll and a
// monotonic clock.
//
// The port is opened non-blocking, so that neither open (waiting for carrier)
// nor a transfer can hang; every transfer waits in poll instead, for at most
// its own time-out. The port is taken for this process alone in two ways:
// flock keeps out every other program that asks for the same lock, and
// TIOCEXCL makes the kernel refuse any further open of the device, by
// programs that know nothing of locks. flock comes first, before any termios
// change, so that a port in use by someone else is never reconfigured.
#include "pclink/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int port_fd = -1;

// "COM<n>" names the n-th serial port as on Windows; like Cygwin, we take it
// for /dev/ttyS<n-1>, so the default "COM2" and "-d COM1" mean what a
// Windows user expects. Any other name is a device path.
void device_path(const char* name, char* path, std::size_t size) {
  if (std::strncmp(name, "COM", 3) == 0 && name[3] >= '1' && name[3] <= '9') {
    char* end = nullptr;
    long number = std::strtol(name + 3, &end, 10);
    if (*end == '\0' && number >= 1 && number <= 256) {
      std::snprintf(path, size, "/dev/ttyS%ld", number - 1);
      return;
    }
  }
  std::snprintf(path, size, "%s", name);
}

speed_t speed_for(int baud) {
  return baud == 19200 ? B19200 : B9600;
}

bool configure_line(int fd, const platform::LineSettings& settings) {
  termios line{};
  if (tcgetattr(fd, &line) != 0) {
    return false;
  }
  cfmakeraw(&line);
  line.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  line.c_cflag |= CS8 | CREAD | CLOCAL;
  if (settings.odd_parity) {
    line.c_cflag |= PARENB | PARODD;
  }
  line.c_iflag &= ~(IXON | IXOFF | IXANY);
  line.c_cc[VMIN] = 0;
  line.c_cc[VTIME] = 0;
  cfsetispeed(&line, speed_for(settings.baud));
  cfsetospeed(&line, speed_for(settings.baud));
  // Like the Windows port's, the result of applying the settings is not
  // looked at: a pseudo-terminal has no parity and drops PARENB, and glibc,
  // finding it dropped, reports the whole change as failed whenever the
  // line already had PARODD from an earlier link mode 2 session, although
  // every other setting took.
  tcsetattr(fd, TCSANOW, &line);
  // RTS held off. A pseudo-terminal has no modem lines and refuses this,
  // which is of no consequence.
  int rts = TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &rts);
  return true;
}

long long now_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

long long deadline_after(int timeout_cs) {
  return now_ms() + static_cast<long long>(timeout_cs) * 10;
}

// Waits until the port is ready for events or the deadline on the monotonic
// clock has passed, whatever signals interrupt the wait. Returns the poll
// revents, 0 on a time-out, -1 on error.
int wait_ready(short events, long long deadline) {
  for (;;) {
    long long remaining = deadline - now_ms();
    if (remaining < 0) {
      remaining = 0;
    }
    pollfd watch{port_fd, events, 0};
    int ready = poll(&watch, 1, static_cast<int>(remaining));
    if (ready > 0) {
      return watch.revents;
    }
    if (ready == 0) {
      return 0;
    }
    if (errno != EINTR) {
      return -1;
    }
  }
}

}  // namespace

namespace platform {

bool open_port(const char* name, const LineSettings& settings) {
  char path[512];
  device_path(name, path, sizeof path);
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || !configure_line(fd, settings)) {
    ::close(fd);
    return false;
  }
  port_fd = fd;
  return true;
}

ReadResult read_byte(int timeout_cs) {
  if (port_fd < 0) {
    return {Transfer::failed, 0, EBADF};
  }
  long long deadline = deadline_after(timeout_cs);
  for (;;) {
    int ready = wait_ready(POLLIN, deadline);
    if (ready == 0) {
      return {Transfer::timed_out, 0, 0};
    }
    if (ready < 0) {
      return {Transfer::failed, 0, errno};
    }
    std::uint8_t byte = 0;
    ssize_t count = ::read(port_fd, &byte, 1);
    if (count == 1) {
      return {Transfer::done, byte, 0};
    }
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
      continue;  // woken without a byte after all; wait again
    }
    // Ready but nothing to read: the device has gone (an unplugged USB
    // adapter reads as end of file). That is a failure, not a time-out.
    return {Transfer::failed, 0, count == 0 ? EIO : errno};
  }
}

WriteResult write_byte(int timeout_cs, std::uint8_t byte) {
  if (port_fd < 0) {
    return {Transfer::failed, EBADF};
  }
  long long deadline = deadline_after(timeout_cs);
  for (;;) {
    ssize_t count = ::write(port_fd, &byte, 1);
    if (count == 1) {
      return {Transfer::done, 0};
    }
    if (count < 0 && errno != EAGAIN && errno != EINTR) {
      return {Transfer::failed, errno};
    }
    int ready = wait_ready(POLLOUT, deadline);
    if (ready == 0) {
      return {Transfer::timed_out, 0};
    }
    if (ready < 0) {
      return {Transfer::failed, errno};
    }
    if ((ready & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (ready & POLLOUT) == 0) {
      return {Transfer::failed, EIO};
    }
  }
}

void close_port() {
  if (port_fd < 0) {
    return;
  }
  ioctl(port_fd, TIOCNXCL);
  ::close(port_fd);  // also releases the flock
  port_fd = -1;
}

const char* path_base_name(const char* path) {
  const char* separator = std::strrchr(path, '/');
  return separator != nullptr ? separator + 1 : path;
}

void sleep_ms(int milliseconds) {
  timespec pause{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
