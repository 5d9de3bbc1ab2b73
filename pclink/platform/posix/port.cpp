// The serial port on POSIX hosts (Linux, macOS): opening it, its termios,
// and putting the line back; the transfers are in port_transfers.cpp, the
// waits in wait.cpp.
//
// The port is opened non-blocking, so that neither open (waiting for carrier)
// nor a transfer can hang; every transfer waits instead, for at most its own
// time-out. The port is taken for this process alone in two ways: flock
// keeps out every other program that asks for the same lock, and TIOCEXCL
// makes the kernel refuse any further open of the device, by programs that
// know nothing of locks. flock comes first, before any termios change, so
// that a port in use by someone else is never reconfigured; where the device
// takes no flock at all, TIOCEXCL alone keeps the port.
//
// The settings found on the line are put back when the port closes, at
// process exit and on an interrupt: a terminal given with -d must not be
// left raw.
#include "pclink/platform/port.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "pclink/platform/posix/line_settings.h"
#include "pclink/platform/posix/low_latency.h"
#include "pclink/platform/posix/port_transfers.h"

namespace {

// What an adapter holds received bytes back for: with our request for low
// latency granted, and as most come (an FTDI adapter's latency timer).
constexpr int low_latency_ms = 1;
constexpr int adapter_latency_as_it_comes_ms = 16;

// Read by the interrupt handler, hence sig_atomic_t.
volatile std::sig_atomic_t port_fd = -1;

// What the line was before this process changed it.
struct FoundLine {
  termios settings;
  bool modem_lines_known;  // false on a pseudo-terminal, which has none
  bool rts_on;
  bool dtr_on;
} found_line;

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

void configure_line(int fd, const termios& found, const platform::LineSettings& settings) {
  const termios line = platform_posix::raw_line(found, settings);
  // Like the Windows port's, the result of applying the settings is not
  // looked at: a pseudo-terminal has no parity and drops PARENB, and glibc,
  // finding it dropped, reports the whole change as failed whenever the
  // line already had PARODD from an earlier link mode 2 session, although
  // every other setting took.
  tcsetattr(fd, TCSANOW, &line);
  platform_posix::start_transfers(line);
  // RTS held off, DTR on: a relay adapter or a cable that takes its power
  // or a ready signal from DTR works whatever the last program left. A
  // pseudo-terminal has no modem lines and refuses both, which is of no
  // consequence.
  int rts = TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &rts);
  int dtr = TIOCM_DTR;
  ioctl(fd, TIOCMBIS, &dtr);
}

void remember_line(int fd, const termios& settings) {
  found_line.settings = settings;
  int modem = 0;
  found_line.modem_lines_known = ioctl(fd, TIOCMGET, &modem) == 0;
  found_line.rts_on = (modem & TIOCM_RTS) != 0;
  found_line.dtr_on = (modem & TIOCM_DTR) != 0;
}

void put_back_modem_line(int fd, int line, bool on) {
  ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

// Only async-signal-safe calls: the interrupt handler comes here too.
void put_back_line(int fd, int when) {
  platform_posix::restore_latency(fd);
  tcsetattr(fd, when, &found_line.settings);
  if (found_line.modem_lines_known) {
    put_back_modem_line(fd, TIOCM_RTS, found_line.rts_on);
    put_back_modem_line(fd, TIOCM_DTR, found_line.dtr_on);
  }
}

// The settings are put back before the descriptor is given up, so that an
// interrupt arriving in between finds the port still open and puts them
// back itself.
void release_port(int when) {
  int fd = port_fd;
  if (fd < 0) {
    return;
  }
  put_back_line(fd, when);
  port_fd = -1;
  ioctl(fd, TIOCNXCL);
  ::close(fd);  // also releases the flock
}

// A port that nobody closes (qvinstall keeps it to the end) is still put
// back as found.
void release_port_at_exit() {
  release_port(TCSADRAIN);
}

// The group that may read and write the device, for a user refused it.
void note_device_group(const char* path, platform::OpenResult& result) {
  struct stat device {};
  if (stat(path, &device) != 0 || device.st_gid == 0 || (device.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
    return;
  }
  group entry{};
  group* found = nullptr;
  char names[4096];
  if (getgrgid_r(device.st_gid, &entry, names, sizeof names, &found) == 0 && found != nullptr) {
    std::snprintf(result.group, sizeof result.group, "%s", found->gr_name);
  }
}

platform::OpenResult refused(platform::OpenFailure failure, int error) {
  platform::OpenResult result{};
  result.failure = failure;
  result.error = error;
  return result;
}

platform::OpenResult open_failure(const char* path, int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO:  // a /dev/ttyS node with no serial hardware behind it
      return refused(platform::OpenFailure::no_such_port, error);
    case EBUSY:  // another program holds it with TIOCEXCL
      return refused(platform::OpenFailure::busy, error);
    case EACCES:
    case EPERM: {
      platform::OpenResult result = refused(platform::OpenFailure::no_permission, error);
      note_device_group(path, result);
      return result;
    }
    default:
      return refused(platform::OpenFailure::other, error);
  }
}

// What a name that was not found may have meant: the device a COM<n> name
// was taken for, and a device of a name without a folder under /dev/.
void note_name_hints(const char* name, const char* path, platform::OpenResult& result) {
  if (result.failure != platform::OpenFailure::no_such_port) return;
  // A path too long for the note is left out rather than cut.
  if (std::strcmp(name, path) != 0 &&
      std::snprintf(result.device_meant, sizeof result.device_meant, "%s", path) >=
          static_cast<int>(sizeof result.device_meant)) {
    result.device_meant[0] = '\0';
  }
  char nearby[sizeof result.device_nearby];
  struct stat device {};
  if (std::strchr(name, '/') == nullptr &&
      std::snprintf(nearby, sizeof nearby, "/dev/%s", name) < static_cast<int>(sizeof nearby) &&
      stat(nearby, &device) == 0 && S_ISCHR(device.st_mode)) {
    std::snprintf(result.device_nearby, sizeof result.device_nearby, "%s", nearby);
  }
}

// A device or file system that has no flock (macOS refuses it on some
// devices, as do some network file systems) does not make the port busy:
// TIOCEXCL, taken next, still keeps every later open out, locks or not.
// Only a lock that someone else holds means the port is in use.
bool lock_unsupported(int error) {
  return error == ENOTSUP || error == EOPNOTSUPP || error == EINVAL || error == ENOLCK;
}

}  // namespace

namespace platform {

OpenResult open_port(const char* name, const LineSettings& settings) {
  char path[512];
  device_path(name, path, sizeof path);
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    OpenResult failure = open_failure(path, errno);
    note_name_hints(name, path, failure);
    return failure;
  }
  OpenResult result = refused(OpenFailure::none, 0);
  termios found{};
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && !lock_unsupported(errno)) {
    result = refused(errno == EWOULDBLOCK || errno == EAGAIN ? OpenFailure::busy : OpenFailure::other, errno);
  } else if (tcgetattr(fd, &found) != 0) {
    result = refused(errno == ENOTTY ? OpenFailure::not_a_port : OpenFailure::other, errno);
  } else if (ioctl(fd, TIOCEXCL) != 0) {
    result = refused(OpenFailure::other, errno);
  }
  if (result.failure != OpenFailure::none) {
    ::close(fd);
    return result;
  }
  remember_line(fd, found);
  // Open from here on, so that an interrupt during the change puts the line
  // back too.
  port_fd = fd;
  configure_line(fd, found, settings);
  result.receive_latency_ms =
      platform_posix::request_low_latency(fd) ? low_latency_ms : adapter_latency_as_it_comes_ms;
  // Whatever reached the line before this run is no answer to it.
  tcflush(fd, TCIFLUSH);
  static const bool released_at_exit = std::atexit(release_port_at_exit) == 0;
  (void)released_at_exit;
  return result;
}

void close_port() {
  // Bytes still in the driver go out at the speed they were written for.
  release_port(TCSADRAIN);
}

void abandon_port() {
  int fd = port_fd;
  if (fd >= 0) {
    // What an interrupted exchange left unsent is of no use; close would
    // otherwise wait for it to drain.
    tcflush(fd, TCIOFLUSH);
  }
  release_port(TCSANOW);
}

}  // namespace platform

namespace platform_posix {

int port_descriptor() {
  return port_fd;
}

}  // namespace platform_posix
