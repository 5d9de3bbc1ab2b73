// The platform contract of the host's port, console, clock and process end,
// answered by the simulated line: the host's pclink runs unchanged on top of
// it, every clock it reads is the line's virtual one, and its end stops the
// run instead of the process.
#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "pclink/platform/console.h"
#include "pclink/platform/port.h"
#include "pclink/platform/process.h"
#include "sim/host_platform.h"
#include "sim/host_process.h"

namespace {

sim::VirtualLine* line = nullptr;
bool port_open = false;
platform::LineSettings opened{0, false};

}  // namespace

namespace sim {

void attach_host(VirtualLine* virtual_line) {
  line = virtual_line;
  port_open = false;
  opened = {0, false};
}

platform::LineSettings host_line_settings() {
  return opened;
}

}  // namespace sim

namespace platform {

// Its line carries bytes at the rate the host set.
bool line_keeps_pace(const char*) {
  return true;
}

OpenResult open_port(const char*, const LineSettings& settings) {
  opened = settings;
  port_open = true;
  return OpenResult{};  // failure none
}

ReadResult read_bytes(std::uint8_t* buffer, std::uint8_t* damage, int capacity, const ReadLimits& limits) {
  if (!port_open) return {Transfer::failed, 0, EBADF};
  const std::int64_t deadline = line->host_now_us() + limits.timeout_ms * 1000LL;
  int got = 0;
  while (got < capacity) {
    std::int64_t wait_us = deadline - line->host_now_us();
    if (got >= limits.wanted) {
      wait_us = 0;  // only what has already arrived
    } else if (limits.gap_ms > 0) {
      wait_us = std::min<std::int64_t>(wait_us, limits.gap_ms * 1000LL);
    }
    const std::optional<std::uint8_t> byte = line->host_read(std::max<std::int64_t>(wait_us, 0));
    if (!byte) break;
    buffer[got] = *byte;
    damage[got++] = 0;
  }
  return {got >= limits.wanted ? Transfer::done : Transfer::timed_out, got, 0};
}

WriteResult write_bytes(const std::uint8_t* bytes, int count, int) {
  if (!port_open) return {Transfer::failed, EBADF};
  for (int i = 0; i < count; ++i) line->host_write(bytes[i]);
  return {Transfer::done, 0};
}

void close_port() {
  port_open = false;
}

void abandon_port() {
  port_open = false;
}

void sleep_ms(int milliseconds) {
  line->host_sleep(milliseconds * 1000LL);
}

// exit_program's way out of the process: out of the run instead.
void end_process(int code) {
  throw sim::HostExit{code};
}

ConsoleKind console_kind(ConsoleStream) {
  return ConsoleKind::redirected;
}

void write_converted(ConsoleStream stream, TextOrigin, const char* text, std::size_t length) {
  std::fwrite(text, 1, length, stream == ConsoleStream::output ? stdout : stderr);
}

std::size_t terminal_columns(ConsoleStream) {
  return 0;
}

// Never asked: the simulated host writes to no terminal.
MessageLanguage message_language() {
  return MessageLanguage::system;
}

std::int64_t monotonic_milliseconds() {
  return line == nullptr ? 0 : line->host_now_us() / 1000;
}

}  // namespace platform
