#include "support/e2e_host.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

ScriptedHost::ScriptedHost(const std::string& port, bool line_echoes) : line_echoes_(line_echoes) {
  fd_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) return;
  termios settings{};
  tcgetattr(fd_, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd_, TCSANOW, &settings);
}

ScriptedHost::~ScriptedHost() {
  close_port();
}

void ScriptedHost::close_port() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void ScriptedHost::send(const std::string& bytes) {
  std::size_t done = 0;
  while (fd_ >= 0 && done < bytes.size()) {
    const ssize_t count = write(fd_, bytes.data() + done, bytes.size() - done);
    if (count <= 0) return;
    done += static_cast<std::size_t>(count);
  }
}

std::string ScriptedHost::receive(std::size_t count, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string bytes;
  while (fd_ >= 0 && bytes.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd fd{fd_, POLLIN, 0};
    if (left <= 0 || poll(&fd, 1, static_cast<int>(left)) <= 0) break;
    char buffer[512];
    const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

std::string ScriptedHost::transmit(const std::string& bytes) {
  send(bytes);
  return line_echoes_ ? receive(bytes.size()) : std::string();
}

std::string packet(int number, const std::string& payload) {
  unsigned sum = 0;
  for (unsigned char byte : payload) sum += byte;
  std::string line;
  line += '\x01';
  line += static_cast<char>(number & 0xFF);
  line += static_cast<char>(~number & 0xFF);
  line += static_cast<char>(payload.size() & 0xFF);
  line += static_cast<char>((payload.size() >> 8) & 0xFF);
  line += payload;
  line += static_cast<char>(sum & 0xFF);
  line += static_cast<char>((sum >> 8) & 0xFF);
  return line;
}
