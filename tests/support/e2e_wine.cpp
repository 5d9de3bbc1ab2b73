#include "support/e2e_wine.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

bool wine_mode() {
  return !environment("QV_E2E_WINE_BIN").empty();
}

std::vector<std::string> wine_command(const std::string& program, const std::vector<std::string>& args) {
  std::string loader = environment("WINELOADER");
  std::vector<std::string> command{loader.empty() ? "/usr/lib/wine/wine64" : loader,
                                   environment("QV_E2E_WINE_BIN") + "/" + program + ".exe"};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::string wine_port_name(const std::string& pty_path) {
  if (access(pty_path.c_str(), F_OK) != 0) {
    return pty_path;
  }
  const std::string link = environment("QV_E2E_WINE_PORT_LINK");
  if (link.empty()) {
    throw std::runtime_error("QV_E2E_WINE_PORT_LINK is not set");
  }
  // Replaced in one step, so the link never dangles or names a stale pty.
  const std::string fresh = link + ".new";
  unlink(fresh.c_str());
  if (symlink(pty_path.c_str(), fresh.c_str()) != 0 || std::rename(fresh.c_str(), link.c_str()) != 0) {
    throw std::runtime_error("cannot point " + link + " at " + pty_path);
  }
  // A test binary among several run side by side has a port of its own.
  const std::string port = environment("QV_E2E_WINE_PORT");
  return port.empty() ? "COM2" : port;
}
