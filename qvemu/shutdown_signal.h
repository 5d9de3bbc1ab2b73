// SIGTERM and SIGINT end the emulator cleanly. The handler only writes a byte
// into a pipe, so a wait on the line can watch for the request with poll and
// never miss one that arrives just before it starts waiting.
#pragma once

namespace qvemu {

// Installs the handlers; returns the pipe's read end to poll on.
int install_shutdown_handlers();

bool shutdown_requested();

// Thrown out of any wait once a shutdown was requested.
struct ShutdownRequested {};

}  // namespace qvemu
