// A child process for the platform tests that end a process: exits, signals
// and dropped privileges. The child's standard error comes back through a
// pipe, and its end is seen as that pipe's end, so every wait is bounded
// without sleeping.
#pragma once

#include <csignal>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct Child {
  pid_t pid = -1;
  int err_fd = -1;    // the child's standard error
  int ready_fd = -1;  // one byte arrives when the child calls say_ready
};

// Runs body in a child; body gets the descriptor to write its ready byte to
// and returns the child's exit code.
inline Child start_child(const std::function<int(int ready_fd)>& body) {
  int err[2], ready[2];
  if (pipe(err) != 0 || pipe(ready) != 0) {
    return {};
  }
  Child child;
  child.pid = fork();
  if (child.pid == 0) {
    close(err[0]);
    close(ready[0]);
    dup2(err[1], STDERR_FILENO);
    _exit(body(ready[1]));
  }
  close(err[1]);
  close(ready[1]);
  child.err_fd = err[0];
  child.ready_fd = ready[0];
  return child;
}

inline void say_ready(int ready_fd) {
  char mark = 'r';
  ssize_t written = write(ready_fd, &mark, 1);
  (void)written;
}

inline bool wait_until_ready(const Child& child, int timeout_ms) {
  pollfd ready{child.ready_fd, POLLIN, 0};
  char mark = 0;
  return poll(&ready, 1, timeout_ms) == 1 && read(child.ready_fd, &mark, 1) == 1;
}

struct Ending {
  bool ended = false;
  int status = 0;
  std::string err;
};

// Collects the child's standard error until it ends; kills it when it has
// not ended within timeout_ms.
inline Ending wait_for_end(Child& child, int timeout_ms) {
  Ending ending;
  for (;;) {
    pollfd err{child.err_fd, POLLIN, 0};
    if (poll(&err, 1, timeout_ms) != 1) {
      kill(child.pid, SIGKILL);
      break;
    }
    char buffer[256];
    ssize_t count = read(child.err_fd, buffer, sizeof buffer);
    if (count <= 0) {
      ending.ended = true;
      break;
    }
    ending.err.append(buffer, static_cast<std::size_t>(count));
  }
  waitpid(child.pid, &ending.status, 0);
  close(child.err_fd);
  close(child.ready_fd);
  return ending;
}
