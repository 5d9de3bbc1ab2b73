#include "pclink/platform/posix/low_latency.h"

#include <sys/ioctl.h>

// macOS takes the receive latency as a number; Linux takes a flag of the
// driver's settings. QV_LATENCY_BY_DATA_LATENCY builds the macOS way on
// Linux too, for the tests of that path.
#if defined(__APPLE__) || defined(QV_LATENCY_BY_DATA_LATENCY)
#define QV_DATA_LATENCY 1
#if __has_include(<IOKit/serial/ioss.h>)
#include <IOKit/serial/ioss.h>
#else
#define IOSSDATALAT _IOW('T', 0, unsigned long)
#endif
#else
#include <linux/serial.h>
#endif

namespace platform_posix {

#ifdef QV_DATA_LATENCY

namespace {

// The system offers no way to read the latency back; 0 is the driver's
// own choice, which is what a port has until someone sets it.
constexpr unsigned long driver_default_latency_us = 0;
constexpr unsigned long low_latency_us = 1000;
bool latency_set = false;

}  // namespace

bool request_low_latency(int fd) {
  unsigned long latency = low_latency_us;
  latency_set = ioctl(fd, IOSSDATALAT, &latency) == 0;
  return latency_set;
}

void restore_latency(int fd) {
  if (!latency_set) return;
  unsigned long latency = driver_default_latency_us;
  ioctl(fd, IOSSDATALAT, &latency);
  latency_set = false;
}

#else

namespace {

// The driver's settings as found, put back whole at close; only kept when
// our request changed them.
serial_struct found_serial{};
bool serial_changed = false;

}  // namespace

bool request_low_latency(int fd) {
  serial_changed = false;
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return false;
  if ((serial.flags & ASYNC_LOW_LATENCY) != 0) return true;
  found_serial = serial;
  serial.flags |= ASYNC_LOW_LATENCY;
  serial_changed = ioctl(fd, TIOCSSERIAL, &serial) == 0;
  // Some drivers take the settings and drop the flag: the latency is low
  // only if it stuck.
  serial_struct now{};
  return serial_changed && ioctl(fd, TIOCGSERIAL, &now) == 0 && (now.flags & ASYNC_LOW_LATENCY) != 0;
}

void restore_latency(int fd) {
  if (!serial_changed) return;
  ioctl(fd, TIOCSSERIAL, &found_serial);
  serial_changed = false;
}

#endif

}  // namespace platform_posix
