#include "pclink/line_timing.h"

namespace {

int byte_time_us = 521;  // 10 bits at 19200 baud
int latency_ms = 0;

// What a busy host or device may add to a wait inside a unit or a drain.
constexpr int unit_margin_ms = 200;
constexpr int drain_margin_ms = 25;
constexpr int drain_silence_bytes = 4;
// The echo may wait this long in any case: a loaded host or device must
// not make the echo of a short unit look lost.
constexpr int echo_floor_ms = 3000;

}  // namespace

void set_line_timing(int baud, bool parity, int receive_latency_ms) {
  const int bits = parity ? 11 : 10;
  byte_time_us = (bits * 1'000'000 + baud - 1) / baud;
  latency_ms = receive_latency_ms;
}

int line_time_ms(int count) {
  return static_cast<int>((static_cast<long long>(count) * byte_time_us + 999) / 1000);
}

int unit_gap_ms() {
  return unit_margin_ms + latency_ms;
}

int unit_timeout_ms(int count) {
  return 2 * line_time_ms(count) + unit_gap_ms();
}

int drain_silence_ms() {
  return line_time_ms(drain_silence_bytes) + latency_ms + drain_margin_ms;
}

int drain_timeout_ms(int byte_limit) {
  return 2 * line_time_ms(byte_limit) + drain_silence_ms();
}

int echo_timeout_ms(int count) {
  const int at_line_speed = 2 * line_time_ms(count) + unit_gap_ms();
  return at_line_speed > echo_floor_ms ? at_line_speed : echo_floor_ms;
}
