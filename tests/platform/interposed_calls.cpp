#include "platform/interposed_calls.h"

#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace interposed {

int flock_error = 0;
int fchmod_signal = 0;

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
