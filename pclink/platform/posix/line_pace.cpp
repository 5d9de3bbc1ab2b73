// Whether a POSIX port paces its bytes: every port but a pseudo-terminal.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "pclink/platform/port.h"

namespace platform {

// A pseudo-terminal's far end is a program (an emulator, a bridge to the
// network), not a line: Linux names its slaves /dev/pts/<n>, macOS and the
// BSDs /dev/ttys<n>. A link to one counts as what it points to.
bool line_keeps_pace(const char* name) {
  char resolved[PATH_MAX];
  const char* path = realpath(name, resolved) != nullptr ? resolved : name;
  if (std::strncmp(path, "/dev/pts/", 9) == 0) return false;
  return !(std::strncmp(path, "/dev/ttys", 9) == 0 && path[9] >= '0' && path[9] <= '9');
}

}  // namespace platform
