#include "pclink/console.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "pclink/platform/console.h"
#include "pclink/platform/process.h"
#include "pclink/terminal_text.h"

const char author_suffix[] = " (pclink/C++ 2026)";

namespace {

// What a stream is, and the language its reader reads, do not change
// during a run; looked at once.
struct StreamKinds {
  bool known = false;
  platform::ConsoleKind output = platform::ConsoleKind::redirected;
  platform::ConsoleKind error = platform::ConsoleKind::redirected;
  MessageLanguage language = MessageLanguage::system;
};

// QVLINK_RAW set to anything but "" or "0": a terminal gets what a pipe
// gets, the system's own bytes and the progress marks, for a user whose
// terminal shows Shift-JIS whatever the locale says, or who wants to see
// exactly what a script would.
bool raw_bytes_wanted() {
  const char* raw = std::getenv("QVLINK_RAW");
  return raw != nullptr && raw[0] != '\0' && std::strcmp(raw, "0") != 0;
}

// The status line on standard error's terminal: how many columns it took,
// so that a shorter rewrite can blank what is left of the longer one, and
// the rewrite held back by the pace, if any.
struct StatusLine {
  std::size_t width = 0;
  std::int64_t drawn_at = 0;
  bool held_back = false;
  std::string name;
  TextOrigin origin = TextOrigin::shift_jis;
  StatusLineParts parts;
};

StreamKinds stream_kinds;
StatusLine status_line;
// When marks held back (platform::held_marks) were last written, and
// whether the exit routine that writes the last of them is in place.
std::int64_t marks_written_at = std::numeric_limits<std::int64_t>::min() / 2;
bool exit_routine_in_place = false;
// Kept apart, in a type a signal handler may read, where the platform's
// interrupt handler finds it: an interrupt's closing line must also start on
// a line of its own.
volatile std::sig_atomic_t& status_line_on_screen = platform::status_line_open;

FILE* stream_of(ConsoleStream stream) {
  return stream == ConsoleStream::output ? stdout : stderr;
}

platform::ConsoleKind kind_of(ConsoleStream stream) {
  if (!stream_kinds.known) {
    if (!raw_bytes_wanted()) {
      stream_kinds.output = platform::console_kind(ConsoleStream::output);
      stream_kinds.error = platform::console_kind(ConsoleStream::error);
      stream_kinds.language = platform::message_language();
    }
    stream_kinds.known = true;
  }
  return stream == ConsoleStream::output ? stream_kinds.output : stream_kinds.error;
}

// Text made ready for a terminal, and the character set it is then in.
struct Presented {
  std::string text;
  TextOrigin charset;
};

Presented presented(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length) {
  if (origin == TextOrigin::user && kind_of(stream) == platform::ConsoleKind::terminal_converting &&
      !platform::is_user_text(text, length)) {
    if (is_well_formed_shift_jis(text, length)) return {escaped_shift_jis(text, length), TextOrigin::shift_jis};
    return {escaped_above_ascii(text, length), TextOrigin::user};
  }
  if (origin == TextOrigin::user) return {escaped_user_text(text, length), TextOrigin::user};
  return {escaped_shift_jis(text, length), TextOrigin::shift_jis};
}

// Writes text already made ready, in the terminal's character set.
void write_shown(ConsoleStream stream, const Presented& shown) {
  if (kind_of(stream) == platform::ConsoleKind::terminal_converting) {
    platform::write_converted(stream, shown.charset, shown.text.data(), shown.text.size());
  } else {
    std::fwrite(shown.text.data(), 1, shown.text.size(), stream_of(stream));
  }
}

// The columns a status line may take: one less than the window's width, as
// a line that reaches the last column wraps on many terminals and each
// rewrite would then start a line lower. Unlimited when the width is
// unknown.
std::size_t status_line_room() {
  const std::size_t columns = platform::terminal_columns(ConsoleStream::error);
  return columns > 1 ? columns - 1 : std::numeric_limits<std::size_t>::max();
}

void draw_status_line() {
  Presented name = presented(ConsoleStream::error, status_line.origin, status_line.name.data(),
                             status_line.name.size());
  const std::size_t room = status_line_room();
  StatusLineLayout layout =
      lay_out_status_line(name.text, name.charset == TextOrigin::shift_jis, status_line.parts, room);
  name.text = layout.name;
  // Set before the first byte goes out: an interrupt that comes as soon as
  // the line is on screen must find it open.
  status_line_on_screen = 1;
  std::fputc('\r', stderr);
  write_shown(ConsoleStream::error, name);
  std::fputs(layout.details.c_str(), stderr);
  const std::size_t width = layout.name.size() + layout.details.size();
  for (std::size_t blank = width; blank < std::min(status_line.width, room); ++blank) std::fputc(' ', stderr);
  status_line.width = width;
  status_line.held_back = false;
  status_line.drawn_at = platform::monotonic_milliseconds();
  std::fflush(stderr);
}

// Whatever follows a status line starts on a line of its own, below the
// line's final state. The line counts as open until its newline is out:
// an interrupt in between then ends it with a blank line at worst, never
// runs its own line on from the figures.
void end_status_line() {
  if (status_line_on_screen != 0) {
    if (status_line.held_back) draw_status_line();
    std::fputc('\n', stderr);
    std::fflush(stderr);
    status_line = StatusLine{};
    status_line_on_screen = 0;
  }
}

void write_held_marks() {
  const int length = platform::held_marks_length;
  if (length == 0) return;
  std::fwrite(platform::held_marks, 1, static_cast<std::size_t>(length), stderr);
  std::fflush(stderr);
  // Forgotten only once written: an interrupt during the write writes them
  // itself and ends the process before the write returns.
  platform::held_marks_length = 0;
  marks_written_at = platform::monotonic_milliseconds();
}

void hold_mark(const char* mark, std::size_t length) {
  if (!exit_routine_in_place) {
    std::atexit(write_held_marks);
    exit_routine_in_place = true;
  }
  if (static_cast<std::size_t>(platform::held_marks_length) + length > platform::held_marks_room) {
    write_held_marks();
  }
  if (length > platform::held_marks_room) {
    std::fwrite(mark, 1, length, stderr);
    std::fflush(stderr);
    return;
  }
  std::memcpy(platform::held_marks + platform::held_marks_length, mark, length);
  platform::held_marks_length = platform::held_marks_length + static_cast<int>(length);
}

void write_on_terminal(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length) {
  end_status_line();
  write_shown(stream, presented(stream, origin, text, length));
  if (stream == ConsoleStream::error) std::fflush(stderr);
}

}  // namespace

const char* terminal_text_of(const Message& message) {
  kind_of(ConsoleStream::error);
  return stream_kinds.language == MessageLanguage::english ? message.english : message.system;
}

bool console_is_terminal(ConsoleStream stream) {
  return kind_of(stream) != platform::ConsoleKind::redirected;
}

// Marks held back go out before anything else, on either stream.
void write_text(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length) {
  write_held_marks();
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
  write_held_marks();
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

void print_progress_mark(const char* mark) {
  if (console_is_terminal(ConsoleStream::error)) {
    print_text(mark);
    return;
  }
  hold_mark(mark, std::strlen(mark));
  if (platform::monotonic_milliseconds() - marks_written_at >= status_line_pace_ms) write_held_marks();
}

void release_progress_marks() {
  write_held_marks();
}

void show_status_line(const char* name, TextOrigin origin, const StatusLineParts& parts, StatusRedraw redraw) {
  if (!console_is_terminal(ConsoleStream::error)) return;
  status_line.name = name;
  status_line.origin = origin;
  status_line.parts = parts;
  status_line.held_back = true;
  const bool too_soon = platform::monotonic_milliseconds() - status_line.drawn_at < status_line_pace_ms;
  if (redraw == StatusRedraw::paced && status_line_on_screen != 0 && too_soon) return;
  draw_status_line();
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

void reset_console_state() {
  platform::held_marks_length = 0;
  marks_written_at = std::numeric_limits<std::int64_t>::min() / 2;
  stream_kinds = StreamKinds{};
  status_line = StatusLine{};
  status_line_on_screen = 0;
}

void exit_program(int code) {
  write_held_marks();
  end_status_line();
  platform::end_process(code);
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
