// The hold that keeps the interrupt handler out on Windows while a save's
// file or the port changes.
#include <windows.h>

#include "pclink/platform/process.h"

namespace platform {

namespace {

// Entered by the program's thread for a hold, and by the interrupt handler,
// which never leaves it: once the handler has it, nothing else changes a
// file or the line before the process ends. A critical section, since the
// same thread may enter it again (nested holds; the exit routines that an
// ending process may run in the handler's thread).
// Made on first use, whichever thread comes first: the handler is set before
// main.
struct InterruptGuard {
  CRITICAL_SECTION section;
  InterruptGuard() { InitializeCriticalSection(&section); }
};

CRITICAL_SECTION& interrupt_guard() {
  static InterruptGuard guard;
  return guard.section;
}

}  // namespace

void hold_interrupts() {
  EnterCriticalSection(&interrupt_guard());
}

void release_interrupts() {
  LeaveCriticalSection(&interrupt_guard());
}

}  // namespace platform
