#include "pclink/line_watch.h"

#include <chrono>

#include "pclink/console.h"
#include "pclink/progress.h"
#include "pclink/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int slice_cs = 25;
constexpr auto silence_before_notice = std::chrono::seconds(2);

bool watching = false;  // silent_since is set
Clock::time_point silent_since;
bool notice_shown = false;

void check_silence() {
  if (!notice_shown && Clock::now() - silent_since >= silence_before_notice) {
    show_waiting_notice(relay_active);
    notice_shown = true;
  }
}

}  // namespace

platform::ReadResult read_byte_watching_silence(int timeout_cs) {
  if (!console_is_terminal(ConsoleStream::error)) return platform::read_byte(timeout_cs);
  if (!watching) {
    // The silence counts from the first read of the run.
    silent_since = Clock::now();
    watching = true;
  }
  int remaining = timeout_cs;
  for (;;) {
    int slice = remaining < slice_cs ? remaining : slice_cs;
    platform::ReadResult result = platform::read_byte(slice);
    if (result.status != platform::Transfer::timed_out) return result;
    check_silence();
    remaining -= slice;
    if (remaining <= 0) return result;
  }
}

void note_device_byte() {
  silent_since = Clock::now();
  watching = true;
  if (notice_shown) {
    hide_waiting_notice();
    notice_shown = false;
  }
}
