// The process on Windows: its pauses, its end, and its interrupts: Ctrl-C,
// Ctrl-Break and the console closing. The system calls the handler in a
// thread of its own while the program's thread may be waiting on the port;
// the handler ends the process itself, so that thread never runs on. Before it touches anything it takes the interrupt
// hold, and keeps it: a save's file being created or renamed, or time-outs
// being set on the port, are finished first, and nothing of the kind
// starts again afterwards.
#include "pclink/platform/process.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <windows.h>

#include "pclink/messages.h"
#include "pclink/platform/port.h"

namespace {

// Exit codes as a POSIX shell reports the matching signals: SIGINT (2) for
// Ctrl-C and Ctrl-Break, SIGHUP (1) for a console that goes away.
constexpr UINT exit_on_ctrl_c = 128 + 2;
constexpr UINT exit_on_close = 128 + 1;

// A save under way is abandoned: its target keeps the old contents.
void remove_noted_temporary_files() {
  for (int noted = 0; noted < platform::most_noted_temporary_files; ++noted) {
    if (const char* temporary = platform::noted_temporary_file(noted); temporary != nullptr) {
      DeleteFileA(temporary);
    }
  }
}

BOOL WINAPI end_on_interrupt(DWORD event) {
  bool ctrl_c = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  platform::hold_interrupts();
  remove_noted_temporary_files();
  platform::abandon_port();
  DWORD written = 0;
  // The marks held back are the run's, written as far as it went.
  if (platform::held_marks_length > 0) {
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), platform::held_marks, static_cast<DWORD>(platform::held_marks_length),
              &written, nullptr);
  }
  // A progress line on the console is not ended by a newline of its own.
  char line[32] = "";
  if (platform::status_line_open != 0) std::strcat(line, "\n");
  std::strcat(line, ctrl_c ? msg("interrupted").system : msg("hangup").system);
  std::strcat(line, "\n");
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  // Ended at once, like _exit on POSIX: the exit routines that ExitProcess
  // would run (the C library's stream flushes among them) could wait for a
  // lock that the program's thread, stopped anywhere, still holds.
  TerminateProcess(GetCurrentProcess(), ctrl_c ? exit_on_ctrl_c : exit_on_close);
  return TRUE;
}

// An abort (an uncaught exception such as bad_alloc) comes in the
// program's own thread, which may hold the interrupt hold: the critical
// section lets it in again. The C library ends the process once this
// returns.
void clean_up_on_abort(int) {
  platform::hold_interrupts();
  remove_noted_temporary_files();
  platform::abandon_port();
}

}  // namespace

namespace platform {

void catch_interrupts() {
  SetConsoleCtrlHandler(end_on_interrupt, TRUE);
  std::signal(SIGABRT, clean_up_on_abort);
}

void sleep_ms(int milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
}

void end_process(int code) {
  std::exit(code);
}

}  // namespace platform
