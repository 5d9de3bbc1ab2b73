// Whether a Windows port paces its bytes: a COM port is a serial line.
#include "pclink/platform/port.h"

namespace platform {

bool line_keeps_pace(const char*) {
  return true;
}

}  // namespace platform
