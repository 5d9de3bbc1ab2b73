#include "support/e2e.h"
#include "support/e2e_wine.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <termios.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pclink/version.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int emulator_start_ms = 10000;
constexpr int emulator_stop_ms = 10000;

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

std::string bin_path(const std::string& program) {
  return std::string(QV_BIN_DIR) + "/" + program;
}

std::vector<std::string> native_command(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> command{bin_path(program)};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

void make_pipe(int fds[2]) {
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  // Close-on-exec, so that no other child keeps a copy and hides the EOF.
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);
}

// In the child after fork: standard streams in place, then exec.
[[noreturn]] void exec_child(const std::vector<std::string>& command, int in_fd, int out_fd, int err_fd,
                             const std::string& working_dir, const std::vector<std::string>& environment = {},
                             long file_size_limit = 0, int user_id = -1) {
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

// Waits until one of fds is ready. At the deadline (or when poll fails) the
// program is killed, the run marked as timed out, and false returned.
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

// Reaps the program; a run that had to be killed fails the test, showing
// what the program had written on the stream named shown_name.
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

// Ctrl-C for the program (or the chosen signal for the chosen process) once
// what it has shown holds the awaited text.
void interrupt_once_shown(const RunOptions& options, const std::string& shown, pid_t pid, bool& interrupted) {
  if (!interrupted && !options.interrupt_when_output_has.empty() &&
      shown.find(options.interrupt_when_output_has) != std::string::npos) {
    kill(options.interrupt_pid > 0 ? options.interrupt_pid : pid, options.interrupt_signal);
    interrupted = true;
  }
}

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
  const int out_file = options.output_file.empty() ? -1 : open(options.output_file.c_str(), O_WRONLY | O_CLOEXEC);
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

std::string value_after(const std::vector<std::string>& args, const std::string& option) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == option) return args[i + 1];
  }
  return {};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> lines_with_mark(const std::string& trace, char mark) {
  std::vector<std::string> found;
  for (const std::string& line : lines_of(trace)) {
    if (line.size() >= 2 && line[0] == mark && line[1] == ' ') found.push_back(line.substr(2));
  }
  return found;
}

std::string bytes_from_side(const std::string& trace, char side) {
  std::string bytes;
  for (const TraceUnit& unit : trace_units(trace)) {
    if (unit.side == side) bytes += unit.bytes;
  }
  return bytes;
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

namespace {

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

RunResult run_device_program(const Emulator& emulator, const std::string& program, std::vector<std::string> args,
                             RunOptions options) {
  args.insert(args.begin(), {"-d", wine_mode() ? wine_port_name(emulator.pty_path) : emulator.pty_path});
  return run_launched(program, args, options);
}

RunResult run_program(const std::string& program, std::vector<std::string> args, RunOptions options) {
  return run_launched(program, args, options);
}

RunResult run_device_program_on_terminal(const Emulator& emulator, const std::string& program,
                                         std::vector<std::string> args, RunOptions options) {
  args.insert(args.begin(), {"-d", wine_mode() ? wine_port_name(emulator.pty_path) : emulator.pty_path});
  return run_on_terminal(launch_command(program, args), options);
}

RunResult run_program_on_terminal(const std::string& program, std::vector<std::string> args, RunOptions options) {
  return run_on_terminal(launch_command(program, args), options);
}

std::vector<TraceUnit> trace_units(const std::string& trace) {
  std::vector<TraceUnit> units;
  for (const std::string& line : lines_of(trace)) {
    if (line.size() < 2 || (line[0] != 'H' && line[0] != 'D') || line[1] != ' ') continue;
    const auto bar = line.find(" | ");
    TraceUnit unit;
    unit.side = line[0];
    unit.bytes = from_hex(line.substr(2, bar == std::string::npos ? std::string::npos : bar - 2));
    if (bar != std::string::npos) unit.decoded = line.substr(bar + 3);
    units.push_back(unit);
  }
  return units;
}

std::string host_bytes(const std::string& trace) {
  return bytes_from_side(trace, 'H');
}

std::string device_bytes(const std::string& trace) {
  return bytes_from_side(trace, 'D');
}

std::vector<std::string> trace_violations(const std::string& trace) {
  return lines_with_mark(trace, '!');
}

std::vector<std::string> trace_events(const std::string& trace) {
  return lines_with_mark(trace, '=');
}

std::string from_hex(const std::string& hex) {
  std::string bytes;
  std::string digits;
  for (char c : hex) {
    if (c == ' ') continue;
    digits += c;
    if (digits.size() == 2) {
      bytes += static_cast<char>(std::strtol(digits.c_str(), nullptr, 16));
      digits.clear();
    }
  }
  return bytes;
}

std::string to_hex(const std::string& bytes) {
  std::string hex;
  for (unsigned char byte : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    if (!hex.empty()) hex += ' ';
    hex += pair;
  }
  return hex;
}

std::string make_temp_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qv-e2e-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

bool contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::string program_title(const std::string& name, const std::string& rest) {
  return name + " v" + suite_version + " " + rest;
}
