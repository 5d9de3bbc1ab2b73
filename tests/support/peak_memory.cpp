// Runs a program and writes its largest resident set, in KiB, to a file.
// The end-to-end tests measure the programs through it: a process forked
// from the test itself counts the test's own memory from before its exec,
// while this helper is small next to any program it runs.
//
//   peak_memory <report file> <program> [<argument>...]
//
// Exits as the program did.
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) return 127;
  const pid_t pid = fork();
  if (pid == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 127;
  if (std::FILE* report = std::fopen(argv[1], "w"); report != nullptr) {
    std::fprintf(report, "%ld\n", usage.ru_maxrss);
    std::fclose(report);
  }
  if (WIFSIGNALED(status)) {
    std::signal(WTERMSIG(status), SIG_DFL);
    std::raise(WTERMSIG(status));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}
