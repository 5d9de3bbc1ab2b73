#include "platform/interposed_calls.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <dlfcn.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/stat.h>

namespace interposed {

int flock_error = 0;
int fchmod_signal = 0;
SerialDriver serial_driver;
int waits = 0;
std::function<void(int)> at_wait;
int line_sets = 0;

}  // namespace interposed

namespace {

// The C library's own definition, the next one after this program's.
template <typename Call>
Call real(const char* name) {
  return reinterpret_cast<Call>(dlsym(RTLD_NEXT, name));
}

}  // namespace

// The exception specifications are the C library's own declarations'.
extern "C" int flock(int fd, int operation) noexcept(noexcept(::flock(0, 0))) {
  if (interposed::flock_error != 0) {
    errno = interposed::flock_error;
    return -1;
  }
  static const auto real_flock = real<int (*)(int, int)>("flock");
  return real_flock(fd, operation);
}

extern "C" int fchmod(int fd, mode_t mode) noexcept(noexcept(::fchmod(0, 0))) {
  if (interposed::fchmod_signal != 0) {
    raise(interposed::fchmod_signal);
  }
  static const auto real_fchmod = real<int (*)(int, mode_t)>("fchmod");
  return real_fchmod(fd, mode);
}

namespace {

// The macOS request for the receive latency, as the select() build of the
// port files defines it on Linux.
const unsigned long data_latency_request = _IOW('T', 0, unsigned long);

// Answers a request of the serial driver's, when a test has put one there.
bool serial_driver_answers(unsigned long request, void* argument, int& result) {
  interposed::SerialDriver& driver = interposed::serial_driver;
  if (request != TIOCGSERIAL && request != TIOCSSERIAL && request != data_latency_request) return false;
  if (!driver.present) {
    errno = ENOTTY;  // a pseudo-terminal has no such driver
    result = -1;
    return true;
  }
  result = 0;
  if (request == TIOCGSERIAL) {
    *static_cast<serial_struct*>(argument) = serial_struct{};
    static_cast<serial_struct*>(argument)->flags = driver.flags;
  } else if (request == TIOCSSERIAL) {
    driver.flags_set.push_back(static_cast<serial_struct*>(argument)->flags);
    driver.flags = driver.flags_set.back() & ~driver.dropped_flags;
  } else {
    driver.latencies_set.push_back(*static_cast<unsigned long*>(argument));
  }
  return true;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept(noexcept(::ioctl(0, 0))) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  int result = 0;
  if (serial_driver_answers(request, argument, result)) return result;
  if (request == TCSETS) ++interposed::line_sets;
  static const auto real_ioctl = real<int (*)(int, unsigned long, ...)>("ioctl");
  return real_ioctl(fd, request, argument);
}

extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  ++interposed::waits;
  if (interposed::at_wait) interposed::at_wait(interposed::waits);
  static const auto real_poll = real<int (*)(pollfd*, nfds_t, int)>("poll");
  return real_poll(fds, count, timeout);
}

extern "C" int select(int count, fd_set* reading, fd_set* writing, fd_set* failing, timeval* timeout) {
  ++interposed::waits;
  if (interposed::at_wait) interposed::at_wait(interposed::waits);
  static const auto real_select = real<int (*)(int, fd_set*, fd_set*, fd_set*, timeval*)>("select");
  return real_select(count, reading, writing, failing, timeout);
}
