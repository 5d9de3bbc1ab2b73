// The process as the operating system runs it, internal to pclink:
// interrupts and the holds that keep them off, pauses, and the end of the
// process. Each system implements the calls in its own process.cpp and
// interrupt_holds.cpp; the notes that an interrupt's handler reads are kept
// by the portable process_notes.cpp.
#pragma once

#include <csignal>

namespace platform {

// Ends the process on SIGINT, SIGTERM and SIGHUP (Ctrl-C and a closed
// console on Windows): removes the temporary file a save is writing, puts
// the line settings back without waiting for output, closes the port, prints
// one line and exits with 128 + the signal number (130 for Ctrl-C). SIGPIPE
// (the reader of standard output went away, as "qvdir | head" does) ends it
// the same way but silently, with 141: nobody is left to read a message.
// SIGQUIT and an abort (an uncaught exception such as bad_alloc) clean up
// the same way, then end by the signal's default action (a core dump where
// the system makes one); on Windows, where there is no SIGQUIT, an abort
// cleans up before the C library ends the process. A file-size limit no
// longer kills the process: the write fails instead, and the save is
// abandoned like any failed write. Every program calls this once, before
// anything else.
void catch_interrupts();

// Hold an interrupt off while what is on the disk and what the interrupt
// handler knows of it disagree: from just before a save's temporary file is
// created until it is noted, and from just before it is renamed or removed
// until the note is cleared. An interrupt that comes meanwhile ends the
// process as soon as it is let through. Holds nest. On Windows, where the
// handler runs in a thread of its own, it also waits for a port change under
// way (the time-outs set before each transfer), so that nothing changes the
// line after the handler has put it back; the handler itself never lets
// go, so the program's thread cannot change it again before the end.
void hold_interrupts();
void release_interrupts();

// Pauses the process.
void sleep_ms(int milliseconds);

// Ends the process with the exit code, through the standard library's exit,
// so that every stream is flushed and every exit routine has run (the port
// put back as found, a save's temporary file removed). exit_program comes
// here once its own output is complete.
[[noreturn]] void end_process(int code);

// The temporary files that saves are writing right now (a fetch read more
// than once has one per read), so that an interrupt can remove them before
// the process ends: at most most_noted_temporary_files at once. The paths
// are kept in fixed process-wide buffers: reading them is safe in a signal
// handler. A null or too long path, or one more than there is room for,
// notes none.
constexpr int most_noted_temporary_files = 4;
void note_temporary_file(const char* path);
// Forgets the note of path; null forgets every note.
void forget_temporary_file(const char* path);
// The index-th note, or null when that place holds none.
const char* noted_temporary_file(int index = 0);

// Set while a status line stands on the terminal without its newline, so
// that an interrupt's handler ends it before its own line; kept by the
// console routines.
extern volatile std::sig_atomic_t status_line_open;

// Progress marks on their way to a redirected standard error that the
// console routines hold back by their pace, so that an interrupt's handler
// writes them before its own line: held_marks_length bytes of held_marks.
// A mark is stored before the length counts it, and the length goes back to
// 0 only once the marks are written.
constexpr int held_marks_room = 256;
extern char held_marks[held_marks_room];
extern volatile std::sig_atomic_t held_marks_length;

}  // namespace platform
