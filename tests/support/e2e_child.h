// The end-to-end harness's child processes, shared by its runs of the
// programs and its emulator: streams put in place before exec, waits
// bounded by a deadline, and the reaping that fails a test whose program
// had to be killed. Internal to the harness; tests use support/e2e.h.
#pragma once

#include <chrono>
#include <poll.h>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/e2e.h"

namespace e2e_child {

using Clock = std::chrono::steady_clock;

// What is left of the time until deadline, never below 0.
int remaining_ms(Clock::time_point deadline);

// <bin>/program and its arguments, the program built for this system.
std::vector<std::string> native_command(const std::string& program, const std::vector<std::string>& args);

// A pipe whose both ends close on exec.
void make_pipe(int fds[2]);

// In the child after fork: standard streams in place, then exec.
[[noreturn]] void exec_child(const std::vector<std::string>& command, int in_fd, int out_fd, int err_fd,
                             const std::string& working_dir, const std::vector<std::string>& environment = {},
                             long file_size_limit = 0, int user_id = -1);

// The exit code of a wait status; -1 when a signal ended the process.
int exit_code_of(int status);

// Waits until one of fds is ready. At the deadline (or when poll fails) the
// program is killed, the run marked as timed out, and false returned.
bool wait_or_kill(pollfd* fds, nfds_t count, Clock::time_point deadline, pid_t pid, RunResult& result);

// Reaps the program; a run that had to be killed fails the test, showing
// what the program had written on the stream named shown_name.
void finish_run(pid_t pid, const std::vector<std::string>& command, const RunOptions& options, RunResult& result,
                const char* shown_name, const std::string& shown);

// Ctrl-C for the program (or the chosen signal for the chosen process) once
// what it has shown holds the awaited text.
void interrupt_once_shown(const RunOptions& options, const std::string& shown, pid_t pid, bool& interrupted);

}  // namespace e2e_child
