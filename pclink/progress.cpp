#include "pclink/progress.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "pclink/console.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char cable_waiting[] = "waiting for the device... (no answer; gives up after 10 s)";
constexpr char relay_waiting[] = "waiting for the device... (keeps trying; Ctrl-C stops)";

struct Progress {
  bool active = false;  // a transfer has begun on a terminal
  std::string name;
  TextOrigin origin = TextOrigin::shift_jis;
  long long total = unknown_total;
  long long done = 0;
  Clock::time_point start;
  int retries = 0;
};

Progress progress;
const char* waiting_notice = nullptr;  // shown while the device is silent
bool notice_alone = false;             // on a status line of its own

void draw_progress() {
  double elapsed = std::chrono::duration<double>(Clock::now() - progress.start).count();
  std::string details = "  " + progress_details(progress.done, progress.total, elapsed) + retries_text(progress.retries);
  if (waiting_notice != nullptr) details += std::string("  ") + waiting_notice;
  show_status_line(progress.name.c_str(), progress.origin, details.c_str());
  notice_alone = false;
}

void begin(const char* name, TextOrigin origin, long long total) {
  progress = Progress{true, name, origin, total, 0, Clock::now(), 0};
  draw_progress();
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
    print_text("o");
    return;
  }
  progress.done = done;
  if (progress.active) draw_progress();
}

void progress_extra_mark(const char* mark) {
  if (!console_is_terminal(ConsoleStream::error)) print_text(mark);
}

void note_retry() {
  ++progress.retries;
  if (progress_on_screen()) draw_progress();
}

void show_waiting_notice(bool relay) {
  waiting_notice = relay ? relay_waiting : cable_waiting;
  if (progress_on_screen()) {
    draw_progress();
    return;
  }
  show_status_line("", TextOrigin::shift_jis, waiting_notice);
  notice_alone = true;
}

void hide_waiting_notice() {
  waiting_notice = nullptr;
  if (notice_alone) {
    clear_status_line();
    notice_alone = false;
  } else if (progress_on_screen()) {
    draw_progress();
  }
}

std::string retries_text(int retries) {
  if (retries <= 0) return "";
  return "  " + std::to_string(retries) + (retries == 1 ? " retry" : " retries");
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

std::string progress_details(long long done, long long total, double elapsed_seconds) {
  std::string details = size_text(static_cast<double>(done));
  if (total >= 0) {
    long long percent = total > 0 ? done * 100 / total : 100;
    details += " / " + size_text(static_cast<double>(total)) + "  " + std::to_string(percent > 100 ? 100 : percent) +
               "%";
  }
  if (elapsed_seconds < 1.0 || done <= 0) return details;
  double rate = static_cast<double>(done) / elapsed_seconds;
  details += "  " + size_text(rate) + "/s";
  if (total >= 0) {
    double left = static_cast<double>(total > done ? total - done : 0) / rate;
    details += "  " + duration_text(static_cast<long long>(std::ceil(left))) + " left";
  }
  return details;
}
