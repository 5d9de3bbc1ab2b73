// Waiting for a POSIX port to become ready, internal to the POSIX platform
// files. Linux waits in poll(); macOS's poll() does not serve character
// devices (it reports them invalid), so there, and in the build that tests
// that path on Linux (QV_WAIT_WITH_SELECT), select() serves instead.
#pragma once

namespace platform_posix {

enum class Wait { ready, timed_out, failed };

struct WaitResult {
  Wait outcome;
  int error;  // errno when outcome is failed
};

enum class Direction { reading, writing };

// The monotonic clock, in milliseconds.
long long now_ms();

// Waits until fd is ready in the direction or the deadline (now_ms) has
// passed, whatever signals interrupt the wait. A descriptor the system calls
// invalid, an error condition, and a hang-up with nothing left to read are
// failures, not readiness.
WaitResult wait_ready(int fd, Direction direction, long long deadline);

}  // namespace platform_posix
