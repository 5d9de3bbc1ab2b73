#include "pclink/line_watch.h"

#include <cstdint>

#include "pclink/console.h"
#include "pclink/platform/console.h"
#include "pclink/progress.h"

namespace {

constexpr int slice_ms = 250;
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

platform::ReadResult read_watching_silence(std::uint8_t* buffer, std::uint8_t* damage, int capacity,
                                           const platform::ReadLimits& limits) {
  if (!console_is_terminal(ConsoleStream::error)) return platform::read_bytes(buffer, damage, capacity, limits);
  if (!watching) {
    // The silence counts from the first read of the run.
    silent_since = platform::monotonic_milliseconds();
    watching = true;
  }
  platform::ReadLimits slice = limits;
  int remaining = limits.timeout_ms;
  for (;;) {
    slice.timeout_ms = remaining < slice_ms ? remaining : slice_ms;
    platform::ReadResult result = platform::read_bytes(buffer, damage, capacity, slice);
    remaining -= slice.timeout_ms;
    if (result.status != platform::Transfer::timed_out || remaining <= 0) return result;
    if (result.count > 0) {
      // The unit has begun: the rest of the wait is one, so that its gap
      // keeps its meaning across the slices.
      slice = {limits.wanted - result.count, remaining, limits.gap_ms};
      platform::ReadResult rest =
          platform::read_bytes(buffer + result.count, damage + result.count, capacity - result.count, slice);
      return {rest.status, result.count + rest.count, rest.error};
    }
    check_silence();
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
