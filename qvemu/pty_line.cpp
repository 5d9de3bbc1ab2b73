#include "qvemu/pty_line.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

#include "qvemu/shutdown_signal.h"

namespace qvemu {

namespace {

using Clock = std::chrono::steady_clock;

// How often a closed port is looked at again: a pseudo-terminal tells the
// master nothing when the slave is opened, only that it is no longer hung up.
constexpr int session_check_ms = 5;

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// A fresh line for every session: raw mode without the parity a link mode 2
// host asked for, and nothing queued. The echo of the last bytes a host sent
// before it closed the port would otherwise greet the next session.
bool put_in_raw_mode(const std::string& slave_path) {
  int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave < 0) return false;
  termios settings{};
  tcgetattr(slave, &settings);
  cfmakeraw(&settings);
  settings.c_cflag &= ~PARODD;
  tcsetattr(slave, TCSANOW, &settings);
  tcflush(slave, TCIOFLUSH);
  close(slave);
  return true;
}

void raise_system_error(const char* what) {
  throw std::runtime_error(std::string(what) + " failed");
}

}  // namespace

PtyLine::PtyLine(Trace& trace, bool echo, int shutdown_fd, const NoiseSettings& noise)
    : trace_(trace), echo_(echo), shutdown_fd_(shutdown_fd), noise_(noise, trace) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) raise_system_error("posix_openpt");
  if (grantpt(master_) != 0) raise_system_error("grantpt");
  if (unlockpt(master_) != 0) raise_system_error("unlockpt");
  const char* name = ptsname(master_);
  if (!name) raise_system_error("ptsname");
  slave_path_ = name;
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

  // Raw mode is set before the host can open the port, so that the line
  // discipline never echoes or translates a byte on its own.
  if (!put_in_raw_mode(slave_path_)) raise_system_error("opening the slave");
}

PtyLine::~PtyLine() {
  if (master_ >= 0) close(master_);
}

bool PtyLine::wait_for_session(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    pollfd master{master_, POLLIN, 0};
    if (poll(&master, 1, 0) >= 0 && !(master.revents & POLLHUP)) {
      session_open_ = true;
      trace_.event("session open");
      return true;
    }
    if (timeout_ms >= 0 && remaining_ms(deadline) == 0) return false;
    pollfd shutdown{shutdown_fd_, POLLIN, 0};
    poll(&shutdown, 1, session_check_ms);
    if (shutdown_requested()) throw ShutdownRequested{};
  }
}

void PtyLine::end_session() {
  session_open_ = false;
  arrived_.clear();
  trace_.event("session closed");
  put_in_raw_mode(slave_path_);
}

std::optional<std::uint8_t> PtyLine::read_byte(int timeout_ms, bool damage_echo) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    if (!session_open_ && !wait_for_session(timeout_ms < 0 ? -1 : remaining_ms(deadline))) return std::nullopt;
    if (!arrived_.empty()) {
      const std::uint8_t byte = arrived_.front();
      arrived_.pop_front();
      // The echo is of what reached the device, and it crosses the line back.
      if (echo_) write_noisy({static_cast<std::uint8_t>(damage_echo ? byte ^ 0x01 : byte)});
      return byte;
    }
    // Once a shutdown is asked for, only what the host has already sent is
    // still read: its last bytes and its closing the port come first, so
    // that the trace ends with everything the host did.
    const bool stopping = shutdown_requested();
    pollfd fds[2] = {{master_, POLLIN, 0}, {shutdown_fd_, POLLIN, 0}};
    const int ready = poll(fds, 2, stopping ? 0 : timeout_ms < 0 ? -1 : remaining_ms(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      raise_system_error("poll");
    }
    if (fds[0].revents) {
      std::uint8_t byte = 0;
      const ssize_t count = ::read(master_, &byte, 1);
      if (count == 1) {
        for (const NoisyStretch& stretch : noise_.pass(Direction::to_device, {byte})) {
          pause(stretch.pause_ms);
          arrived_.insert(arrived_.end(), stretch.bytes.begin(), stretch.bytes.end());
        }
        continue;
      }
      const bool hung_up = (fds[0].revents & POLLHUP) != 0;
      if (count < 0 && (errno == EAGAIN || errno == EINTR) && !hung_up) continue;
      // Hung up with nothing left, or the read found the slave closed
      // (EIO): the host is gone.
      end_session();
      throw SessionClosed{};
    }
    if (stopping || fds[1].revents) throw ShutdownRequested{};
    if (ready == 0) return std::nullopt;
  }
}

std::int64_t PtyLine::now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

void PtyLine::write(const Bytes& bytes) {
  // With the port closed there is nobody to hear; bytes written now would
  // wait in the terminal and reach the next session instead.
  if (!session_open_) return;
  const Bytes received = write_noisy(bytes);
  if (!noise_.active()) return;
  if (const std::optional<Collision> collision = find_collision(bytes, received)) {
    trace_.event(collision_event(*collision));
  }
}

Bytes PtyLine::write_noisy(const Bytes& bytes) {
  const std::vector<NoisyStretch> stretches = noise_.pass(Direction::to_host, bytes);
  for (const NoisyStretch& stretch : stretches) {
    pause(stretch.pause_ms);
    write_all(stretch.bytes);
  }
  return joined(stretches);
}

void PtyLine::pause(int ms) {
  if (ms <= 0) return;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!shutdown_requested() && remaining_ms(deadline) > 0) {
    pollfd shutdown{shutdown_fd_, POLLIN, 0};
    poll(&shutdown, 1, remaining_ms(deadline));
  }
}

void PtyLine::write_all(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (count > 0) {
      done += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno != EAGAIN) {
      end_session();
      throw SessionClosed{};
    }
    // The host is not reading yet; wait until the terminal takes more.
    pollfd fds[2] = {{master_, POLLOUT, 0}, {shutdown_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) raise_system_error("poll");
    if (fds[1].revents) throw ShutdownRequested{};
    if (fds[0].revents & (POLLHUP | POLLERR)) {
      end_session();
      throw SessionClosed{};
    }
  }
}

}  // namespace qvemu
