// The device's end of the cable: the master side of a pseudo-terminal. The
// host program opens the slave as its serial port. Every byte the host sends
// is echoed straight back (unless echo is off), as the cable does, before the
// device says anything. The line also notices the host opening and closing
// the port, which bounds one host session. Noise, when asked for, acts on
// the bytes between the line and the device in both directions.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "qvemu/line.h"
#include "qvemu/line_noise.h"
#include "qvemu/trace.h"

namespace qvemu {

class PtyLine : public Line {
 public:
  // Opens the master and leaves the slave in raw mode; throws
  // std::runtime_error when the system has no pseudo-terminal to give.
  PtyLine(Trace& trace, bool echo, int shutdown_fd, const NoiseSettings& noise = {});
  ~PtyLine() override;
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  const std::string& slave_path() const { return slave_path_; }

  std::optional<std::uint8_t> read_byte(int timeout_ms, bool damage_echo = false) override;
  void write(const Bytes& bytes) override;
  std::int64_t now_us() override;

 private:
  bool wait_for_session(int timeout_ms);
  void end_session();
  void write_all(const Bytes& bytes);
  // Through the noise to the host; returns the bytes the host receives.
  Bytes write_noisy(const Bytes& bytes);
  // A pause on the line, cut short by a shutdown.
  void pause(int ms);

  Trace& trace_;
  bool echo_;
  int shutdown_fd_;
  int master_ = -1;
  std::string slave_path_;
  bool session_open_ = false;
  LineNoise noise_;
  // Bytes the noise made of the host's last byte, not yet taken by the device.
  std::deque<std::uint8_t> arrived_;
};

}  // namespace qvemu
