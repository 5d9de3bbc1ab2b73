// Compiled into every program rather than archived in the library, so that
// each of them, qvunpack included, has its interrupts caught before main
// runs, without a line in any main.
#include "pclink/platform/process.h"

namespace {

[[maybe_unused]] const bool interrupts_caught = [] {
  platform::catch_interrupts();
  return true;
}();

}  // namespace
