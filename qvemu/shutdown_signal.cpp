#include "qvemu/shutdown_signal.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace qvemu {

namespace {

int signal_pipe[2] = {-1, -1};
volatile std::sig_atomic_t requested = 0;

extern "C" void on_shutdown_signal(int) {
  requested = 1;
  const char byte = 1;
  // Nothing can be done about a failed write inside a handler; the flag is set.
  [[maybe_unused]] ssize_t written = write(signal_pipe[1], &byte, 1);
}

}  // namespace

int install_shutdown_handlers() {
  if (pipe(signal_pipe) != 0) throw std::runtime_error("pipe failed");
  for (int fd : signal_pipe) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  struct sigaction action {};
  action.sa_handler = on_shutdown_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  // A host that closes the port while we write must not kill the emulator.
  signal(SIGPIPE, SIG_IGN);
  return signal_pipe[0];
}

bool shutdown_requested() {
  return requested != 0;
}

}  // namespace qvemu
