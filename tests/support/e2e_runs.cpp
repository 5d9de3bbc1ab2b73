// Running the programs under test with their standard streams on pipes,
// natively or through the launcher the environment chooses, and the
// run_* entry points of support/e2e.h that do so.
#include "support/e2e.h"
#include "support/e2e_child.h"
#include "support/e2e_wine.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

using namespace e2e_child;

namespace {

RunResult run_command(const std::vector<std::string>& command, const RunOptions& options);

// The program under the peak_memory helper, which reports its largest
// resident set in a file of its own.
RunResult run_measured(const std::vector<std::string>& command, RunOptions options) {
  options.measure_peak_memory = false;
  const std::string folder = make_temp_dir();
  const std::string report = folder + "/peak_kib";
  std::vector<std::string> measured = {bin_dir() + "/peak_memory", report};
  measured.insert(measured.end(), command.begin(), command.end());
  RunResult result = run_command(measured, options);
  result.peak_memory_kb = std::atol(read_file(report).c_str());
  std::remove(report.c_str());
  rmdir(folder.c_str());
  return result;
}

RunResult run_command(const std::vector<std::string>& command, const RunOptions& options) {
  if (options.measure_peak_memory) return run_measured(command, options);
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  make_pipe(in);
  make_pipe(out);
  make_pipe(err);
  // Standard output into a file instead of the pipe, as "> file" does.
  const int out_file = options.output_file.empty() ? -1 : open(options.output_file.c_str(), O_WRONLY | O_CLOEXEC | (options.output_appended ? O_APPEND : 0));
  if (!options.output_file.empty() && out_file < 0) throw std::runtime_error("cannot open " + options.output_file);
  const pid_t pid = fork();
  if (pid == 0) {
    exec_child(command, in[0], out_file >= 0 ? out_file : out[1], err[1], options.working_dir, options.environment,
               options.file_size_limit, options.user_id);
  }
  if (out_file >= 0) close(out_file);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  fcntl(in[1], F_SETFL, O_NONBLOCK);

  RunResult result;
  std::size_t written = 0;
  int stdin_fd = in[1];
  if (options.stdin_bytes.empty()) {
    close(stdin_fd);
    stdin_fd = -1;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(options.timeout_ms);
  bool out_open = true, err_open = true;
  if (options.output_unread || out_file >= 0) {
    close(out[0]);
    out_open = false;
  }
  bool interrupted = false;
  while (out_open || err_open) {
    pollfd fds[3] = {{out_open ? out[0] : -1, POLLIN, 0}, {err_open ? err[0] : -1, POLLIN, 0}, {stdin_fd, POLLOUT, 0}};
    if (!wait_or_kill(fds, 3, deadline, pid, result)) break;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if (!fds[i].revents) continue;
      const ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
      if (count > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(count));
        if (i == 1) interrupt_once_shown(options, result.err, pid, interrupted);
      } else if (count == 0 || errno != EINTR) {
        (i == 0 ? out_open : err_open) = false;
      }
    }
    if (stdin_fd >= 0 && fds[2].revents) {
      const ssize_t count = write(stdin_fd, options.stdin_bytes.data() + written, options.stdin_bytes.size() - written);
      if (count > 0) written += static_cast<std::size_t>(count);
      if (count < 0 || written == options.stdin_bytes.size()) {
        close(stdin_fd);
        stdin_fd = -1;
      }
    }
  }
  if (stdin_fd >= 0) close(stdin_fd);
  if (!options.output_unread && out_file < 0) close(out[0]);
  close(err[0]);
  finish_run(pid, command, options, result, "stderr", result.err);
  return result;
}

// On a busy machine the Wine loader now and then fails before the .exe runs
// at all: exit code 1 and not a byte on either stream, which no program of
// the suite gives (each prints its banner or help first, and its only exit 1
// follows "TimeOut"). Such a run is started once more; nothing of it reached
// the emulator, so the test still sees one run.
RunResult run_launched(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
  RunResult result = run_command(launch_command(program, args), options);
  if (wine_mode() && result.exit_code == 1 && result.out.empty() && result.err.empty()) {
    result = run_command(launch_command(program, args), options);
  }
  return result;
}

}  // namespace

std::vector<std::string> launch_command(const std::string& program, const std::vector<std::string>& args) {
  return wine_mode() ? wine_command(program, args) : native_command(program, args);
}

RunOptions in_locale(const std::string& locale, const std::string& working_dir) {
  RunOptions options;
  // LANGUAGE would outrank the locale for the messages' language, and
  // QVLINK_RAW the terminal itself: neither is taken from the test's own
  // environment.
  options.environment = {"LC_ALL=" + locale, "LANGUAGE=", "QVLINK_RAW="};
  options.working_dir = working_dir;
  return options;
}

RunResult run_command_line(const std::vector<std::string>& command, RunOptions options) {
  return run_command(command, options);
}

std::string bin_dir() {
  return QV_BIN_DIR;
}

RunResult run_device_program(const Emulator& emulator, const std::string& program, std::vector<std::string> args,
                             RunOptions options) {
  args.insert(args.begin(), {"-d", wine_mode() ? wine_port_name(emulator.pty_path) : emulator.pty_path});
  return run_launched(program, args, options);
}

RunResult run_program(const std::string& program, std::vector<std::string> args, RunOptions options) {
  return run_launched(program, args, options);
}
