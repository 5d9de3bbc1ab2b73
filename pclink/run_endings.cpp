// The endings of a run on the line and the note they print.
#include "pclink/run_endings.h"

#include "pclink/console.h"
#include "pclink/progress.h"
#include "pclink/serial_port.h"

namespace {

struct EndingNote {
  const Message* message = nullptr;
  const char* name = nullptr;
} ending_note;

}  // namespace

void timeout_exit() {
  print_message(msg("time_out"));
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
    abandon_exchange(msg("too_many_repeats"));
  }
}

void abandon_exchange(const Message& why) {
  print_message(why);
  abandon_explained_exchange();
}

void abandon_explained_exchange() {
  print_message(msg("transfer_abandoned"));
  print_ending_note();
  close_port();
  exit_program(exit_not_done);
}

void set_ending_note(const Message& message, const char* name) {
  ending_note = {&message, name};
}

void clear_ending_note() {
  ending_note = {};
}

void print_ending_note() {
  if (ending_note.message != nullptr) {
    print_message(*ending_note.message, {ending_note.name});
  }
}
