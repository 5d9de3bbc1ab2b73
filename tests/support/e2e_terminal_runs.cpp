// The programs under test on a fresh pseudo-terminal, their controlling
// terminal, as a person at a terminal runs them.
#include "support/e2e.h"
#include "support/e2e_child.h"
#include "support/e2e_wine.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace e2e_child;

namespace {

// The program on a fresh pseudo-terminal that becomes its controlling
// terminal; the master side is read until the program's end.
RunResult run_on_terminal(const std::vector<std::string>& command, const RunOptions& options) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pseudo-terminal");
  const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings{};
  tcgetattr(terminal, &settings);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tcsetattr(terminal, TCSANOW, &settings);
  if (options.terminal_columns > 0) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = options.terminal_columns;
    ioctl(terminal, TIOCSWINSZ, &size);
  }
  const int no_input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(terminal, TIOCSCTTY, 0);
    exec_child(command, no_input, terminal, terminal, options.working_dir, options.environment);
  }
  close(terminal);
  close(no_input);

  RunResult result;
  bool interrupted = false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(options.timeout_ms);
  for (;;) {
    pollfd fd{master, POLLIN, 0};
    if (!wait_or_kill(&fd, 1, deadline, pid, result)) break;
    char buffer[4096];
    const ssize_t count = read(master, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;  // EIO: the program and every copy of its terminal are gone
    result.out.append(buffer, static_cast<std::size_t>(count));
    interrupt_once_shown(options, result.out, pid, interrupted);
  }
  close(master);
  finish_run(pid, command, options, result, "terminal", result.out);
  return result;
}

}  // namespace

RunResult run_device_program_on_terminal(const Emulator& emulator, const std::string& program,
                                         std::vector<std::string> args, RunOptions options) {
  args.insert(args.begin(), {"-d", wine_mode() ? wine_port_name(emulator.pty_path) : emulator.pty_path});
  return run_on_terminal(launch_command(program, args), options);
}

RunResult run_program_on_terminal(const std::string& program, std::vector<std::string> args, RunOptions options) {
  return run_on_terminal(launch_command(program, args), options);
}
