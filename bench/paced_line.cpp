// A serial line at the pace of a real one, between the host's port and the
// emulator's: a benchmark helper, not part of the suite.
//
// It makes a pseudo-terminal for the host (its path is the first line of
// standard output) and carries bytes between it and DEVICE_PORT, the
// emulator's terminal, the way a USB adapter on an RS-232 line does: every
// byte takes its bit times on the wire in each direction, one after
// another, and a byte that reaches the adapter from the line waits there
// until the adapter's latency timer runs out (counted from the first byte
// it holds) or its 62-byte packet is full, and only then reaches the host.
// LATENCY_MS 16 is an FTDI adapter as it comes, 1 one told to hurry.
//
// The emulator's echo crosses the line back like any device byte. One host
// session (the host opening the port, then closing it) is carried at a
// time; the device port is opened for it and closed after it, so that the
// emulator sees the same sessions. Ends on SIGTERM or SIGINT.
//
// usage: paced_line BAUD BITS_PER_BYTE LATENCY_MS DEVICE_PORT
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Nanoseconds = std::int64_t;

Nanoseconds now_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<Nanoseconds>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

[[noreturn]] void fail(const char* what) {
  std::perror(what);
  std::exit(1);
}

void make_raw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return;
  cfmakeraw(&settings);
  tcsetattr(fd, TCSANOW, &settings);
  tcflush(fd, TCIOFLUSH);
}

// The host's side starts raw, so that its line discipline neither echoes
// nor translates a byte before the host program sets the port up.
void reset_host_side(const std::string& slave_path) {
  int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slave < 0) fail("opening the host's terminal");
  make_raw(slave);
  close(slave);
}

struct TimedByte {
  Nanoseconds due;
  std::uint8_t byte;
};

// One direction of the wire: each byte leaves when the one before it has.
struct Wire {
  Nanoseconds byte_time = 0;
  Nanoseconds free_at = 0;
  std::deque<TimedByte> bytes;

  void send(const std::uint8_t* data, ssize_t count, Nanoseconds now) {
    for (ssize_t i = 0; i < count; ++i) {
      free_at = std::max(free_at, now) + byte_time;
      bytes.push_back({free_at, data[i]});
    }
  }
  Nanoseconds next_due() const { return bytes.empty() ? INT64_MAX : bytes.front().due; }
};

// The adapter's receive side towards the host.
struct Adapter {
  static constexpr std::size_t packet_bytes = 62;
  Nanoseconds latency = 0;
  std::vector<std::uint8_t> held;
  Nanoseconds first_held_at = 0;

  Nanoseconds release_at() const { return held.empty() ? INT64_MAX : first_held_at + latency; }
};

void write_all(int fd, const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    ssize_t written = write(fd, data, count);
    if (written > 0) {
      data += written;
      count -= static_cast<std::size_t>(written);
    } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
      return;  // the far end is gone; the session ends at its next read
    } else {
      pollfd ready{fd, POLLOUT, 0};
      poll(&ready, 1, 10);
    }
  }
}

// Carries one session; returns when the host closes its port.
void carry_session(int host, const char* device_path, const Wire& wire_model, Nanoseconds latency) {
  int device = open(device_path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (device < 0) fail("opening the device port");
  make_raw(device);
  Wire to_device = wire_model;
  Wire to_host = wire_model;
  Adapter adapter;
  adapter.latency = latency;
  std::uint8_t buffer[4096];
  for (;;) {
    Nanoseconds now = now_ns();
    while (!to_device.bytes.empty() && to_device.bytes.front().due <= now) {
      write_all(device, &to_device.bytes.front().byte, 1);
      to_device.bytes.pop_front();
    }
    while (!to_host.bytes.empty() && to_host.bytes.front().due <= now) {
      if (adapter.held.empty()) adapter.first_held_at = to_host.bytes.front().due;
      adapter.held.push_back(to_host.bytes.front().byte);
      to_host.bytes.pop_front();
      if (adapter.held.size() >= Adapter::packet_bytes) {
        write_all(host, adapter.held.data(), adapter.held.size());
        adapter.held.clear();
      }
    }
    if (!adapter.held.empty() && adapter.release_at() <= now) {
      write_all(host, adapter.held.data(), adapter.held.size());
      adapter.held.clear();
    }
    Nanoseconds next = std::min({to_device.next_due(), to_host.next_due(), adapter.release_at()});
    Nanoseconds wait = next == INT64_MAX ? 50'000'000 : std::max<Nanoseconds>(0, next - now);
    timespec timeout{static_cast<time_t>(wait / 1'000'000'000), static_cast<long>(wait % 1'000'000'000)};
    pollfd fds[2] = {{host, POLLIN, 0}, {device, POLLIN, 0}};
    if (ppoll(fds, 2, &timeout, nullptr) < 0) {
      if (errno == EINTR) continue;
      fail("ppoll");
    }
    now = now_ns();
    if (fds[0].revents != 0) {
      ssize_t count = read(host, buffer, sizeof buffer);
      if (count > 0) {
        to_device.send(buffer, count, now);
      } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
        break;  // the host closed its port
      }
    }
    if (fds[1].revents != 0) {
      ssize_t count = read(device, buffer, sizeof buffer);
      if (count > 0) to_host.send(buffer, count, now);
    }
  }
  close(device);
}

bool host_has_port_open(int host) {
  pollfd master{host, POLLIN, 0};
  return poll(&master, 1, 0) >= 0 && (master.revents & POLLHUP) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: paced_line BAUD BITS_PER_BYTE LATENCY_MS DEVICE_PORT\n");
    return 2;
  }
  const long baud = std::strtol(argv[1], nullptr, 10);
  const long bits = std::strtol(argv[2], nullptr, 10);
  const long latency_ms = std::strtol(argv[3], nullptr, 10);
  if (baud <= 0 || bits <= 0 || latency_ms < 0) {
    std::fprintf(stderr, "paced_line: BAUD and BITS_PER_BYTE must be positive, LATENCY_MS not negative\n");
    return 2;
  }
  int host = posix_openpt(O_RDWR | O_NOCTTY);
  if (host < 0 || grantpt(host) != 0 || unlockpt(host) != 0) fail("posix_openpt");
  const std::string host_path = ptsname(host);
  fcntl(host, F_SETFL, fcntl(host, F_GETFL) | O_NONBLOCK);
  reset_host_side(host_path);
  std::printf("%s\n", host_path.c_str());
  std::fflush(stdout);

  Wire wire;
  wire.byte_time = bits * 1'000'000'000LL / baud;
  for (;;) {
    if (!host_has_port_open(host)) {
      poll(nullptr, 0, 5);
      continue;
    }
    carry_session(host, argv[4], wire, latency_ms * 1'000'000LL);
    reset_host_side(host_path);
  }
}
