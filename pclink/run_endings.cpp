// The endings of a run on the line and the note they print.
#include "pclink/run_endings.h"

#include "pclink/console.h"
#include "pclink/progress.h"
#include "pclink/serial_port.h"

namespace {

struct EndingNote {
  const char* first = nullptr;
  const char* second = nullptr;
} ending_note;

}  // namespace

void timeout_exit() {
  print_line("TimeOut", "");
  // Nothing at all came back: no echo, no answer. The advice fits that
  // case alone; a device that answered before and fell silent needs none.
  if (line_never_answered()) {
    print_message(msg("nothing_answered"), {host_value(current_port_name())});
  }
  print_ending_note();
  close_port();
  exit_program(exit_line_failed);
}

void count_repeat(int& repeats) {
  note_retry();
  if (++repeats > handshake_repeat_limit) {
    abandon_exchange("too many repeats in a row: the line is too noisy");
  }
}

void abandon_exchange(const char* why) {
  print_line(why, "");
  print_line("transfer abandoned", "");
  print_ending_note();
  close_port();
  exit_program(exit_not_done);
}

void set_ending_note(const char* first, const char* second) {
  ending_note = {first, second};
}

void clear_ending_note() {
  ending_note = {};
}

void print_ending_note() {
  if (ending_note.first != nullptr) {
    print_line(ending_note.first, ending_note.second);
  }
}
