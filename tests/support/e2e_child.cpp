// The harness's child processes: see support/e2e_child.h.
#include "support/e2e_child.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e_child {

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

std::vector<std::string> native_command(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> command{bin_dir() + "/" + program};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

void make_pipe(int fds[2]) {
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  // Close-on-exec, so that no other child keeps a copy and hides the EOF.
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void exec_child(const std::vector<std::string>& command, int in_fd, int out_fd, int err_fd,
                             const std::string& working_dir, const std::vector<std::string>& environment,
                             long file_size_limit, int user_id) {
  dup2(in_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
  // The harness ignores SIGPIPE, and as a program of the suite SIGXFSZ too;
  // the programs under test must find them as any shell leaves them.
  signal(SIGPIPE, SIG_DFL);
  signal(SIGXFSZ, SIG_DFL);
  if (!working_dir.empty() && chdir(working_dir.c_str()) != 0) _exit(126);
  if (file_size_limit > 0) {
    // Ignored, the signal stays ignored across exec: a write past the limit
    // then fails with EFBIG instead of killing the program.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(file_size_limit), static_cast<rlim_t>(file_size_limit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  if (user_id >= 0) {
    const passwd* user = getpwuid(static_cast<uid_t>(user_id));
    if (user == nullptr || setgroups(0, nullptr) != 0 || setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0) {
      _exit(125);
    }
  }
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

int exit_code_of(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool wait_or_kill(pollfd* fds, nfds_t count, Clock::time_point deadline, pid_t pid, RunResult& result) {
  for (;;) {
    const int ready = poll(fds, count, remaining_ms(deadline));
    if (ready > 0) return true;
    if (ready < 0 && errno == EINTR) continue;
    result.timed_out = true;
    kill(pid, SIGKILL);
    return false;
  }
}

void finish_run(pid_t pid, const std::vector<std::string>& command, const RunOptions& options, RunResult& result,
                const char* shown_name, const std::string& shown) {
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = result.timed_out ? -1 : exit_code_of(status);
  if (result.timed_out) {
    ADD_FAILURE() << command[0] << " did not end within " << options.timeout_ms << " ms; " << shown_name
                  << " so far:\n"
                  << shown;
  }
}

void interrupt_once_shown(const RunOptions& options, const std::string& shown, pid_t pid, bool& interrupted) {
  if (!interrupted && !options.interrupt_when_output_has.empty() &&
      shown.find(options.interrupt_when_output_has) != std::string::npos) {
    kill(options.interrupt_pid > 0 ? options.interrupt_pid : pid, options.interrupt_signal);
    interrupted = true;
  }
}

}  // namespace e2e_child
