#include "support/scripted_console.h"

#include <cstdio>

#include "pclink/console.h"
#include "pclink/platform/console.h"
#include "support/scripted_port.h"

namespace {

bool on_terminal = false;
std::size_t terminal_width = 0;
std::int64_t clock_offset_ms = 0;
MessageLanguage terminal_language = MessageLanguage::system;

}  // namespace

namespace scripted_console {

void act_as_terminal(std::size_t columns) {
  on_terminal = true;
  terminal_width = columns;
  reset_console_state();
}

void set_language(MessageLanguage language) {
  terminal_language = language;
  reset_console_state();
}

void advance_clock(std::int64_t milliseconds) {
  clock_offset_ms += milliseconds;
}

void reset() {
  on_terminal = false;
  terminal_width = 0;
  clock_offset_ms = 0;
  terminal_language = MessageLanguage::system;
  reset_console_state();
}

}  // namespace scripted_console

namespace platform {

ConsoleKind console_kind(ConsoleStream) {
  return on_terminal ? ConsoleKind::terminal_as_is : ConsoleKind::redirected;
}

void write_converted(ConsoleStream stream, TextOrigin, const char* text, std::size_t length) {
  std::fwrite(text, 1, length, stream == ConsoleStream::output ? stdout : stderr);
}

std::size_t terminal_columns(ConsoleStream) {
  return terminal_width;
}

MessageLanguage message_language() {
  return terminal_language;
}

std::int64_t monotonic_milliseconds() {
  return scripted_port::elapsed_ms() + clock_offset_ms;
}

}  // namespace platform
