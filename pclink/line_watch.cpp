#include "pclink/line_watch.h"

#include <cstdint>

#include "pclink/console.h"
#include "pclink/platform/console.h"
#include "pclink/progress.h"

namespace {

constexpr int slice_cs = 25;
constexpr std::int64_t silence_before_notice_ms = 2000;

bool watching = false;  // silent_since is set
std::int64_t silent_since = 0;
bool notice_shown = false;
bool relay_line = false;

void check_silence() {
  if (!notice_shown && platform::monotonic_milliseconds() - silent_since >= silence_before_notice_ms) {
    show_waiting_notice(relay_line);
    notice_shown = true;
  }
}

}  // namespace

platform::ReadResult read_byte_watching_silence(int timeout_cs) {
  if (!console_is_terminal(ConsoleStream::error)) return platform::read_byte(timeout_cs);
  if (!watching) {
    // The silence counts from the first read of the run.
    silent_since = platform::monotonic_milliseconds();
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
  silent_since = platform::monotonic_milliseconds();
  watching = true;
  if (notice_shown) {
    hide_waiting_notice();
    notice_shown = false;
  }
}

void note_relay_line() {
  relay_line = true;
}

void reset_line_watch() {
  watching = false;
  notice_shown = false;
  relay_line = false;
}
