// Interrupts held off on POSIX hosts while a save's file changes: the
// signals are blocked, not ignored, so that one that comes during the hold
// stays pending and is delivered, ending the process, when the mask is put
// back.
#include <csignal>

#include "pclink/platform/posix/signals.h"
#include "pclink/platform/process.h"

namespace platform {

namespace {

int interrupt_hold_depth = 0;
sigset_t mask_before_hold;

}  // namespace

void hold_interrupts() {
  if (interrupt_hold_depth++ > 0) return;
  sigset_t held;
  sigemptyset(&held);
  for (int signal_number : platform_posix::interrupt_signals) sigaddset(&held, signal_number);
  sigprocmask(SIG_BLOCK, &held, &mask_before_hold);
}

void release_interrupts() {
  if (interrupt_hold_depth == 0 || --interrupt_hold_depth > 0) return;
  sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

}  // namespace platform
