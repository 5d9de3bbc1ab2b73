// qvemu started on its pseudo-terminal for a test and stopped again, its
// trace read back.
#include "support/e2e.h"
#include "support/e2e_child.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace e2e_child;

namespace {

constexpr int emulator_start_ms = 10000;
constexpr int emulator_stop_ms = 10000;

std::string value_after(const std::vector<std::string>& args, const std::string& option) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == option) return args[i + 1];
  }
  return {};
}

}  // namespace

Emulator start_emulator(std::vector<std::string> args) {
  Emulator emulator;
  emulator.work_dir = make_temp_dir();
  emulator.trace_path = emulator.work_dir + "/trace.txt";
  emulator.stderr_path = emulator.work_dir + "/qvemu-stderr.txt";
  emulator.storage_dir = value_after(args, "--storage");
  std::vector<std::string> command_args{"--trace", emulator.trace_path};
  if (emulator.storage_dir.empty()) {
    emulator.storage_dir = emulator.work_dir + "/storage";
    mkdir(emulator.storage_dir.c_str(), 0700);
    command_args.insert(command_args.end(), {"--storage", emulator.storage_dir});
  }
  command_args.insert(command_args.end(), args.begin(), args.end());

  int out[2];
  make_pipe(out);
  const int in_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int err_fd = open(emulator.stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const std::vector<std::string> command = native_command("qvemu", command_args);
  emulator.pid = fork();
  if (emulator.pid == 0) exec_child(command, in_fd, out[1], err_fd, {});
  close(out[1]);
  close(in_fd);
  close(err_fd);
  emulator.stdout_fd = out[0];

  // The first line of its output is the port.
  const auto deadline = Clock::now() + std::chrono::milliseconds(emulator_start_ms);
  std::string first_line;
  while (first_line.find('\n') == std::string::npos) {
    pollfd fd{emulator.stdout_fd, POLLIN, 0};
    if (poll(&fd, 1, remaining_ms(deadline)) <= 0) break;
    char buffer[256];
    const ssize_t count = read(emulator.stdout_fd, buffer, sizeof buffer);
    if (count <= 0) break;
    first_line.append(buffer, static_cast<std::size_t>(count));
  }
  const auto end = first_line.find('\n');
  if (end == std::string::npos) {
    ADD_FAILURE() << "qvemu printed no port; its stderr:\n" << read_file(emulator.stderr_path);
  } else {
    emulator.pty_path = first_line.substr(0, end);
  }
  return emulator;
}

std::string stop_emulator(Emulator& emulator) {
  if (emulator.pid <= 0) return read_file(emulator.trace_path);
  kill(emulator.pid, SIGTERM);
  // Its standard output reaches its end when the process is gone.
  const auto deadline = Clock::now() + std::chrono::milliseconds(emulator_stop_ms);
  bool ended = false;
  while (!ended) {
    pollfd fd{emulator.stdout_fd, POLLIN, 0};
    if (poll(&fd, 1, remaining_ms(deadline)) <= 0) break;
    char buffer[256];
    ended = read(emulator.stdout_fd, buffer, sizeof buffer) <= 0;
  }
  if (!ended) {
    ADD_FAILURE() << "qvemu did not stop within " << emulator_stop_ms << " ms";
    kill(emulator.pid, SIGKILL);
  }
  int status = 0;
  waitpid(emulator.pid, &status, 0);
  close(emulator.stdout_fd);
  emulator.pid = -1;
  emulator.stdout_fd = -1;
  if (ended && exit_code_of(status) != 0) {
    ADD_FAILURE() << "qvemu ended with status " << status << "; its stderr:\n" << read_file(emulator.stderr_path);
  }
  return read_file(emulator.trace_path);
}
