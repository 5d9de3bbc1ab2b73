// qvemu: the device end of the PC link on a pseudo-terminal, for testing the
// suite's programs against a strict peer. Prints the terminal's path as the
// first line of standard output, then serves host sessions until SIGTERM or
// SIGINT (or, with --once, until the first session closes the port).
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvemu/emulator.h"
#include "qvemu/options.h"
#include "qvemu/pty_line.h"
#include "qvemu/shutdown_signal.h"
#include "qvemu/storage.h"
#include "qvemu/trace.h"

namespace {

constexpr int exit_served = 0;
constexpr int exit_cannot_start = 2;

int serve_sessions(qvemu::Device& device, qvemu::Trace& trace, bool once) {
  for (;;) {
    try {
      device.serve();
    } catch (const qvemu::SessionClosed&) {
      device.end_session();
      if (once) return exit_served;
    } catch (const qvemu::ShutdownRequested&) {
      trace.event("shutdown");
      return exit_served;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  qvemu::Options options;
  std::string error;
  if (!qvemu::parse_options(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "qvemu: %s\n%s", error.c_str(), qvemu::help_text());
    return exit_cannot_start;
  }
  if (options.help) {
    std::fputs(qvemu::help_text(), stdout);
    return exit_served;
  }
  if (options.version) {
    std::printf("qvemu %s\n", QVEMU_VERSION_TEXT);
    return exit_served;
  }
  try {
    const int shutdown_fd = qvemu::install_shutdown_handlers();
    qvemu::Trace trace(options.trace_path);
    if (!trace.opened()) throw std::runtime_error("cannot write the trace " + options.trace_path);
    if (options.storage_dir.empty()) {
      options.storage_dir = qvemu::make_temporary_folder();
      std::fprintf(stderr, "qvemu: storage %s\n", options.storage_dir.c_str());
    } else {
      std::string note;
      if (!qvemu::prepare_storage_folder(options.storage_dir, note, error)) throw std::runtime_error(error);
      if (!note.empty()) std::fprintf(stderr, "qvemu: %s\n", note.c_str());
    }
    const qvemu::Storage storage(options.storage_dir);
    qvemu::PtyLine line(trace, options.echo, shutdown_fd, options.noise);
    std::printf("%s\n", line.slave_path().c_str());
    std::fflush(stdout);

    qvemu::Emulator emulator(line, trace, storage, options);
    return serve_sessions(emulator.device(), trace, options.once);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "qvemu: %s\n", failure.what());
    return exit_cannot_start;
  }
}
