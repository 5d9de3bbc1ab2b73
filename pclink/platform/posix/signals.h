// The signals that end a run cleanly on POSIX hosts: caught by process.cpp,
// held off around a save's file changes by interrupt_holds.cpp.
#pragma once

#include <csignal>

namespace platform_posix {

constexpr int interrupt_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};

}  // namespace platform_posix
