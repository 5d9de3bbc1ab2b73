// Faults on demand in two C library calls of the platform files. The test
// program defines flock and fchmod itself, so the platform files compiled
// into it call these; each does the real call unless a test asks otherwise.
#pragma once

namespace interposed {

// Not 0: flock fails with this error, as on a device or file system that
// takes no locks (EOPNOTSUPP, EINVAL) or a port someone holds (EWOULDBLOCK).
extern int flock_error;

// Not 0: fchmod first raises this signal, as an interrupt arriving just after
// a save's temporary file was created and before it was noted.
extern int fchmod_signal;

}  // namespace interposed
