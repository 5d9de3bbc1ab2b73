#include "pclink/progress.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "pclink/console.h"
#include "pclink/platform/console.h"

namespace {

struct Progress {
  bool active = false;  // a transfer has begun on a terminal
  std::string name;
  TextOrigin origin = TextOrigin::shift_jis;
  long long total = unknown_total;
  long long done = 0;
  std::int64_t start_ms = 0;
  int retries = 0;
};

Progress progress;
bool waiting = false;       // the device is silent: the notice shows
bool relay_waiting = false;  // ... through the relay adapter
bool notice_alone = false;   // on a status line of its own

void draw_progress(StatusRedraw redraw) {
  double elapsed = static_cast<double>(platform::monotonic_milliseconds() - progress.start_ms) / 1000.0;
  StatusLineParts parts = progress_figures(progress.done, progress.total, elapsed, progress.retries);
  if (waiting) {
    StatusLineParts notice = waiting_notice_parts(relay_waiting);
    parts.notice = notice.notice;
    parts.short_notice = notice.short_notice;
  }
  show_status_line(progress.name.c_str(), progress.origin, parts, redraw);
  notice_alone = false;
}

void begin(const char* name, TextOrigin origin, long long total) {
  progress = Progress{true, name, origin, total, 0, platform::monotonic_milliseconds(), 0};
  draw_progress(StatusRedraw::at_once);
}

bool progress_on_screen() {
  return progress.active && status_line_shown() && !notice_alone;
}

}  // namespace

void begin_progress(const char* device_name, long long total) {
  if (console_is_terminal(ConsoleStream::error)) begin(device_name, TextOrigin::shift_jis, total);
}

void begin_host_file_progress(const char* host_name, long long total) {
  if (console_is_terminal(ConsoleStream::error)) {
    begin(host_name, TextOrigin::user, total);
    return;
  }
  write_text(ConsoleStream::error, TextOrigin::user, host_name);
  print_text(":");
}

void progress_mark(long long done) {
  if (!console_is_terminal(ConsoleStream::error)) {
    print_progress_mark("o");
    return;
  }
  progress.done = done;
  if (progress.active) draw_progress(StatusRedraw::paced);
}

void progress_extra_mark(const char* mark) {
  if (!console_is_terminal(ConsoleStream::error)) print_progress_mark(mark);
}

void note_retry() {
  // A repeat means the line stalled: what is held back shows how far it got.
  release_progress_marks();
  ++progress.retries;
  if (progress_on_screen()) draw_progress(StatusRedraw::paced);
}

void show_waiting_notice(bool relay) {
  waiting = true;
  relay_waiting = relay;
  if (progress_on_screen()) {
    draw_progress(StatusRedraw::at_once);
    return;
  }
  show_status_line("", TextOrigin::shift_jis, waiting_notice_parts(relay), StatusRedraw::at_once);
  notice_alone = true;
}

void hide_waiting_notice() {
  waiting = false;
  if (notice_alone) {
    clear_status_line();
    notice_alone = false;
  } else if (progress_on_screen()) {
    draw_progress(StatusRedraw::at_once);
  }
}

StatusLineParts waiting_notice_parts(bool relay) {
  StatusLineParts parts;
  // A terminal's line alone: in the terminal's language.
  parts.notice = terminal_text_of(relay ? msg("waiting_relay") : msg("waiting"));
  parts.short_notice = terminal_text_of(relay ? msg("waiting_relay_short") : msg("waiting_short"));
  return parts;
}

std::string size_text(double bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%.0f B", bytes);
  } else if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024 * 1024));
  }
  return text;
}

std::string duration_text(long long seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
  }
  return text;
}

StatusLineParts progress_figures(long long done, long long total, double elapsed_seconds, int retries) {
  StatusLineParts parts;
  parts.done = size_text(static_cast<double>(done));
  if (total >= 0) {
    long long percent = total > 0 ? done * 100 / total : 100;
    parts.total = " / " + size_text(static_cast<double>(total)) + "  " + std::to_string(percent > 100 ? 100 : percent) +
                  "%";
  }
  if (retries > 0) parts.retries = std::to_string(retries) + (retries == 1 ? " retry" : " retries");
  if (elapsed_seconds < 1.0 || done <= 0) return parts;
  double rate = static_cast<double>(done) / elapsed_seconds;
  parts.pace = size_text(rate) + "/s";
  if (total >= 0) {
    double left = static_cast<double>(total > done ? total - done : 0) / rate;
    parts.pace += "  " + duration_text(static_cast<long long>(std::ceil(left))) + " left";
  }
  return parts;
}
