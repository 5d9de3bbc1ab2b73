#include "pclink/console.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "pclink/platform_console.h"
#include "pclink/terminal_text.h"

const char author_suffix[] = " (pclink/C++ 2026)";

namespace {

// The status line on standard error's terminal: whether it is on the
// screen, and how many columns it took, so that a shorter rewrite can blank
// what is left of the longer one. A Shift-JIS character takes as many
// columns as it has bytes; text of the user's own set takes at most as many.
struct StatusLine {
  std::size_t width = 0;
};

StatusLine status_line;
// Kept apart, in a type a signal handler may read: an interrupt's closing
// line must also start on a line of its own.
volatile std::sig_atomic_t status_line_on_screen = 0;

FILE* stream_of(ConsoleStream stream) {
  return stream == ConsoleStream::output ? stdout : stderr;
}

// A stream does not change its kind during a run; looked at once.
platform::ConsoleKind kind_of(ConsoleStream stream) {
  static const platform::ConsoleKind output_kind = platform::console_kind(ConsoleStream::output);
  static const platform::ConsoleKind error_kind = platform::console_kind(ConsoleStream::error);
  return stream == ConsoleStream::output ? output_kind : error_kind;
}

std::string escaped(TextOrigin origin, const char* text, std::size_t length) {
  return origin == TextOrigin::shift_jis ? escaped_shift_jis(text, length) : escaped_user_text(text, length);
}

// Writes text already escaped, in the terminal's character set.
void write_shown(ConsoleStream stream, TextOrigin origin, const std::string& shown) {
  if (kind_of(stream) == platform::ConsoleKind::terminal_converting) {
    platform::write_converted(stream, origin, shown.data(), shown.size());
  } else {
    std::fwrite(shown.data(), 1, shown.size(), stream_of(stream));
  }
}

void write_for_person(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length) {
  write_shown(stream, origin, escaped(origin, text, length));
}

// The columns a status line may take: one less than the window's width, as
// a line that reaches the last column wraps on many terminals and each
// rewrite would then start a line lower. Unlimited when the width is
// unknown.
std::size_t status_line_room() {
  const std::size_t columns = platform::terminal_columns(ConsoleStream::error);
  return columns > 1 ? columns - 1 : std::numeric_limits<std::size_t>::max();
}

// Whatever follows a status line starts on a line of its own.
void end_status_line() {
  if (status_line_on_screen != 0) {
    status_line = StatusLine{};
    status_line_on_screen = 0;
    std::fputc('\n', stderr);
  }
}

void write_on_terminal(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length) {
  end_status_line();
  write_for_person(stream, origin, text, length);
  if (stream == ConsoleStream::error) std::fflush(stderr);
}

}  // namespace

bool console_is_terminal(ConsoleStream stream) {
  return kind_of(stream) != platform::ConsoleKind::redirected;
}

void write_text(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length) {
  if (console_is_terminal(stream)) {
    write_on_terminal(stream, origin, text, length);
    return;
  }
  std::fwrite(text, 1, length, stream_of(stream));
  if (stream == ConsoleStream::error) std::fflush(stderr);
}

void write_text(ConsoleStream stream, TextOrigin origin, const char* text) {
  write_text(stream, origin, text, std::strlen(text));
}

void print_line(const char* first, const char* second) {
  if (console_is_terminal(ConsoleStream::error)) {
    std::string line = std::string(first) + second + "\n";
    write_on_terminal(ConsoleStream::error, TextOrigin::shift_jis, line.data(), line.size());
    return;
  }
  std::fprintf(stderr, "%s%s\n", first, second);
  std::fflush(stderr);
}

void print_text(const char* text) {
  write_text(ConsoleStream::error, TextOrigin::shift_jis, text);
}

void print_host_line(const char* host_name, const char* message) {
  if (console_is_terminal(ConsoleStream::error)) {
    write_on_terminal(ConsoleStream::error, TextOrigin::user, host_name, std::strlen(host_name));
    print_line(message, "");
    return;
  }
  print_line(host_name, message);
}

void show_status_line(const char* name, TextOrigin origin, const char* details) {
  if (!console_is_terminal(ConsoleStream::error)) return;
  std::string shown_name = escaped(origin, name, std::strlen(name));
  std::string shown_details = details;
  // The details come first; the name is cut to what is left.
  const std::size_t room = status_line_room();
  if (shown_details.size() > room) shown_details.resize(room);
  shown_name = name_fitted_to(shown_name, origin == TextOrigin::shift_jis, room - shown_details.size());
  std::fputc('\r', stderr);
  write_shown(ConsoleStream::error, origin, shown_name);
  std::fputs(shown_details.c_str(), stderr);
  std::size_t width = shown_name.size() + shown_details.size();
  for (std::size_t blank = width; blank < std::min(status_line.width, room); ++blank) std::fputc(' ', stderr);
  status_line.width = width;
  status_line_on_screen = 1;
  std::fflush(stderr);
}

void clear_status_line() {
  if (status_line_on_screen == 0) return;
  std::fputc('\r', stderr);
  const std::size_t room = status_line_room();
  for (std::size_t blank = 0; blank < std::min(status_line.width, room); ++blank) std::fputc(' ', stderr);
  std::fputc('\r', stderr);
  std::fflush(stderr);
  status_line = StatusLine{};
  status_line_on_screen = 0;
}

bool status_line_shown() {
  return status_line_on_screen != 0;
}

void exit_program(int code) {
  end_status_line();
  std::exit(code);
}

int has_prefix(const char* prefix, const char* text) {
  for (; *prefix != '\0'; ++prefix, ++text) {
    if (*prefix != *text) {
      // A difference of zero cannot happen here, but the caller is promised
      // a non-zero value whenever the prefix does not match.
      signed char differing = static_cast<signed char>(*prefix);
      return differing != 0 ? differing : 1;
    }
  }
  return 0;
}
