// Faults on demand in C library calls of the platform files. The test
// program defines flock, fchmod, ioctl, poll and select itself, so the
// platform files compiled into it call these; each does the real call unless
// a test asks otherwise.
#pragma once

#include <functional>
#include <vector>

namespace interposed {

// Not 0: flock fails with this error, as on a device or file system that
// takes no locks (EOPNOTSUPP, EINVAL) or a port someone holds (EWOULDBLOCK).
extern int flock_error;

// Not 0: fchmod first raises this signal, as an interrupt arriving just after
// a save's temporary file was created and before it was noted.
extern int fchmod_signal;

// A serial driver behind the pseudo-terminal for the low-latency request:
// when present, the driver's settings (Linux, TIOCGSERIAL and TIOCSSERIAL)
// or its receive latency (macOS, IOSSDATALAT) are answered here, and every
// such request is noted.
struct SerialDriver {
  bool present = false;
  int flags = 0;  // the driver's flags, ASYNC_LOW_LATENCY among them
  int dropped_flags = 0;  // flags TIOCSSERIAL takes without error and drops
  std::vector<int> flags_set;  // each TIOCSSERIAL's flags, in order
  std::vector<unsigned long> latencies_set;  // each IOSSDATALAT's microseconds
};
extern SerialDriver serial_driver;

// Waits in poll() or select() since the count was last cleared.
extern int waits;

// When set, called at the start of each wait with the count so far: the
// device's next bytes arrive while the reader waits, on the reader's thread.
extern std::function<void(int)> at_wait;

// Line settings applied with TCSETS since the count was last cleared.
extern int line_sets;

}  // namespace interposed
