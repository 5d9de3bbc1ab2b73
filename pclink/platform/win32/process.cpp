// The process on Windows: its pauses, its end, and its interrupts: Ctrl-C,
// Ctrl-Break and the console closing. The system calls the handler in a
// thread of its own while the program's thread runs on, perhaps waiting on
// the port. Before it touches anything the handler takes the interrupt
// hold, and keeps it: a save's file being created or renamed, or time-outs
// being set on the port, are finished first, and nothing of the kind
// starts again afterwards. It then stops the program's thread before it
// puts the line back (cancelling that thread's transfer on the port, if
// one is under way) and writes its line, so that no byte goes to the port
// with the line as found and nothing is written after the handler's line;
// and it ends the process itself, so that thread never runs on.
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

// The program's own thread, as catch_interrupts found it.
HANDLE program_thread = nullptr;

// A save under way is abandoned: its target keeps the old contents.
void remove_noted_temporary_files() {
  for (int noted = 0; noted < platform::most_noted_temporary_files; ++noted) {
    if (const char* temporary = platform::noted_temporary_file(noted); temporary != nullptr) {
      DeleteFileA(temporary);
    }
  }
}

// Stops the program's thread where it is, for good. Only after the files
// are removed: a deletion takes the process heap's lock, which the stopped
// thread might hold. What follows (the port's settings, the writes of the
// handler's lines) needs no lock of the process. SuspendThread only asks;
// GetThreadContext returns once the thread has stopped.
void stop_program_thread() {
  if (program_thread == nullptr || SuspendThread(program_thread) == static_cast<DWORD>(-1)) return;
  CONTEXT where{};
  where.ContextFlags = CONTEXT_CONTROL;
  GetThreadContext(program_thread, &where);
}

BOOL WINAPI end_on_interrupt(DWORD event) {
  bool ctrl_c = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  platform::hold_interrupts();
  remove_noted_temporary_files();
  stop_program_thread();
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
  // GetCurrentThread() is a stand-in that means the calling thread: the
  // handler's thread needs a real handle to this one.
  if (program_thread == nullptr) {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &program_thread,
                    THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0);
  }
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
