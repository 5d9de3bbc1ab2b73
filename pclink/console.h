// Console routines shared by every program of the suite.
//
// Messages, banners and progress go to standard error; standard output
// carries only data (a device listing, an archive listing, the two port
// diagnostics). Texts are byte strings, Shift-JIS unless said otherwise.
//
// What goes to a pipe or a file is written byte for byte, so that scripts
// see the same bytes whatever the locale. Only a terminal gets text
// presented for a person: messages in English where the user's language is
// not Japanese (message_language.h), converted from Shift-JIS to the
// terminal's character set when that is another one, and with every control byte
// other than TAB, CR and LF shown as \xNN, so that text from the device or
// from a package cannot drive the terminal. This is the one place that
// decides it, for every program.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>

#include "pclink/messages.h"
#include "pclink/platform/console.h"
#include "pclink/status_line.h"

// ConsoleStream and TextOrigin come with the platform's console side.
// A host name is shown on a terminal as it is when it is text of the
// terminal's character set; a name that is not (one copied from the device,
// in Shift-JIS) is shown converted from Shift-JIS when it is well-formed
// Shift-JIS, and with every byte above ASCII as \xNN otherwise.

// A value that goes into a message (messages.h), in its own character set:
// a device name or a number as it is, a host name in the user's encoding.
struct MessageValue {
  MessageValue(const char* value, TextOrigin value_origin = TextOrigin::shift_jis)
      : text(value), origin(value_origin) {}
  MessageValue(std::string value) : text(std::move(value)) {}
  MessageValue(int number) : text(std::to_string(number)) {}
  std::string text;
  TextOrigin origin = TextOrigin::shift_jis;
};

// A host file or port name, as the user typed it.
MessageValue host_value(const char* host_name);

// Writes a message with its values, then line_end. A pipe or a file gets the
// message's system bytes in one write (standard error is flushed); a
// terminal gets it presented as below, the values each in their own set.
void write_message(ConsoleStream stream, const Message& message, std::initializer_list<MessageValue> values,
                   const char* line_end);
// The same with values gathered at run time.
void write_message_values(ConsoleStream stream, const Message& message, std::span<const MessageValue> values,
                          const char* line_end);
// A message as a line of its own on standard error.
void print_message(const Message& message, std::initializer_list<MessageValue> values = {});
// A program's banner line: its title message with the suite's version, the
// author suffix and line_end, written as one.
void print_banner(ConsoleStream stream, const Message& title, const char* line_end);

// The text of message that a terminal gets, its values not yet put in: the
// English text where the user's language is not Japanese (the C locale
// included), the programs' own otherwise.
const char* terminal_text_of(const Message& message);

// Writes first and second followed by a newline on standard error, as one
// formatted write, so that each line reaches the console at once.
void print_line(const char* first, const char* second);

// Writes text on standard error without a newline and flushes the stream
// (usage texts that carry their own line ends).
void print_text(const char* text);

// Writes a progress mark on standard error like print_text, but paced
// where it is redirected: a transfer marks each Packet, many a second, and
// a write of its own for each would be a system call per Packet. A mark is
// written at once when status_line_pace_ms have passed since marks were last
// written, and otherwise held back until the next one is due, anything
// else is written on either stream, a repeat shows the line stalling, or
// the process ends (an interrupt included). The bytes are the same.
void print_progress_mark(const char* mark);
// Writes the marks held back now.
void release_progress_marks();

// Writes length bytes of text on a stream, presented as above. Standard
// error is flushed; standard output keeps its buffering.
void write_text(ConsoleStream stream, TextOrigin origin, const char* text, std::size_t length);
void write_text(ConsoleStream stream, TextOrigin origin, const char* text);

// Whether a person reads the stream: it is a terminal (a console window).
bool console_is_terminal(ConsoleStream stream);

// The status line: one line on a terminal's standard error, rewritten in
// place (transfer progress, the notice that the program is waiting): name,
// in its origin's character set, then the parts, laid out to the
// terminal's width (status_line.h). Whatever is written to a terminal next
// starts on a line of its own. Does nothing when standard error is not a
// terminal.
//
// A paced rewrite is drawn at most every status_line_pace_ms: a transfer
// moves a Packet many times a second, and a terminal over a slow link
// should not get a line for each. The last one held back is drawn before
// anything else is written, so the line always ends showing the final state.
enum class StatusRedraw { at_once, paced };
constexpr long long status_line_pace_ms = 100;
void show_status_line(const char* name, TextOrigin origin, const StatusLineParts& parts, StatusRedraw redraw);
// Removes the status line from the screen, leaving the cursor at the start
// of the empty line; a rewrite held back is dropped.
void clear_status_line();
// Whether a status line is on the screen; safe to ask in a signal handler.
bool status_line_shown();

// Forgets what was learnt of the standard streams, the status line and the
// marks held back, as at the start of a process: for tests that run many
// programs' worth of output in one process.
void reset_console_state();

// Ends the process through the normal exit path, so that every stream,
// standard output included, is flushed first.
[[noreturn]] void exit_program(int code);

// 0 when text begins with every byte of prefix (text may go on); otherwise
// the first differing byte of prefix as a signed 8-bit value, never 0.
int has_prefix(const char* prefix, const char* text);

// The text printed right after each program's title on its banner line.
extern const char author_suffix[];

// Exit codes of every program.
constexpr int exit_done = 0;      // the job was done; also --help and --version
constexpr int exit_line_failed = 1;  // the line failed ("TimeOut")
constexpr int exit_not_done = 2;  // refused, not connected, a file that cannot be read or written,
                                  // a rejected or incomplete command line
