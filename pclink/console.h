// Console routines shared by every program of the suite.
//
// Messages, banners and progress marks go to standard error; standard output
// carries only data (a device listing, an archive listing, the two port
// diagnostics). Texts are byte strings: Shift-JIS messages pass through
// untranslated.
#pragma once

// Writes first and second followed by a newline on standard error, as one
// formatted write, so that each line reaches the console at once.
void print_line(const char* first, const char* second);

// Writes text on standard error without a newline and flushes the stream
// (progress marks, usage texts that carry their own line ends).
void print_text(const char* text);

// Ends the process through the normal exit path, so that every stream,
// standard output included, is flushed first.
[[noreturn]] void exit_program(int code);

// 0 when text begins with every byte of prefix (text may go on); otherwise
// the first differing byte of prefix as a signed 8-bit value, never 0.
int has_prefix(const char* prefix, const char* text);

// The text printed right after each program's title on its banner line.
extern const char author_suffix[];

// Exit codes of every program.
constexpr int exit_done = 0;      // the job was done, or the usage text was shown
constexpr int exit_line_failed = 1;  // the line failed ("TimeOut")
constexpr int exit_not_done = 2;  // refused, not connected, a file that cannot be read or written
