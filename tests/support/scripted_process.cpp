// The end of the process in the test build: as on every system, through the
// standard library's exit, so that a test of an ending (TimeOut, an
// abandoned transfer) sees the exit code and the flushed streams.
#include <cstdlib>

#include "pclink/platform/process.h"

namespace platform {

void end_process(int code) {
  std::exit(code);
}

}  // namespace platform
