// A serial line in virtual time between the host (pclink, through the
// platform port contract) and the emulated device (qvemu's own device code,
// through qvemu::Line), in one thread.
//
// Each side is blocking code on a coroutine of its own, with a clock of its
// own. A side that waits for a byte, a pause or a time-out moves its clock
// on to what it waits for (the byte's arrival or its deadline) and goes on
// at once as long as the other side cannot send it anything sooner; only
// then does it suspend, and the line runs whichever side has the earliest
// moment to wake for. Nothing waits for real: a 10 s time-out costs one
// switch, and a side reads a whole unit without one.
//
// Bytes take their time on the wire (10 bits each, 11 with parity, at the
// line's rate), one after the other in each direction, and every byte passes
// the faults on its way (line_faults.h). The device end echoes what reaches
// it when the line echoes, as qvemu's cable does, so the echo meets the
// faults of the way to the host like any byte the device sends.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <string>

#include "qvemu/line.h"
#include "qvemu/line_noise.h"
#include "sim/coroutine.h"
#include "sim/line_faults.h"

namespace sim {

constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();

struct LineSettings {
  int baud = 19200;
  bool parity = false;  // an 11-bit character
  bool echo = true;
  // Virtual time past which a run has hung: no live device on a sane line
  // keeps a conversation going that long.
  std::int64_t hang_after_us = 120'000'000;
  bool record = false;  // keep a trace of every byte on the line
};

// How a run ended.
enum class RunEnd { finished, hung };

class VirtualLine : public qvemu::Line {
 public:
  VirtualLine(const LineSettings& settings, std::vector<Fault> faults);
  // Random noise besides, as qvemu --noise makes it (each fault traced as
  // an event in trace, which must outlive the line).
  VirtualLine(const LineSettings& settings, std::vector<Fault> faults, const qvemu::NoiseSettings& noise,
              qvemu::Trace& trace);
  ~VirtualLine() override;

  // Runs host and device until the host's body returns; the device's body
  // is then unwound (its next read throws qvemu::SessionClosed). Past the
  // hang time, or when both sides wait with nothing to wake them, the host
  // is unwound too (its next wait throws Abandoned) and the run has hung.
  RunEnd run(const std::function<void()>& host, const std::function<void()>& device);

  // The device's end.
  std::optional<std::uint8_t> read_byte(int timeout_ms, bool damage_echo = false) override;
  void write(const qvemu::Bytes& bytes) override;
  std::int64_t now_us() override;

  // The host's end: a byte within timeout_us (nullopt when none came), a
  // byte out (never blocks unless the line is far behind), a pause.
  std::optional<std::uint8_t> host_read(std::int64_t timeout_us);
  void host_write(std::uint8_t byte);
  void host_sleep(std::int64_t us);
  std::int64_t host_now_us() const;

  long bytes_sent(Direction direction) const;
  // The later of the two sides' clocks.
  std::int64_t elapsed_us() const;
  // The line's trace (settings.record): the bytes as sent and, where a
  // fault struck, as they arrived, in bursts, each with the moment it began.
  std::string trace() const;

  // Thrown out of a host's wait when the run is given up.
  struct Abandoned {};

 private:
  struct Arrival {
    std::int64_t at;
    std::uint8_t byte;
  };
  struct Channel {
    explicit Channel(Direction way) : direction(way) {}
    Direction direction;
    std::deque<Arrival> queue;
    std::int64_t free_at = 0;
    long sent = 0;
  };
  struct Side {
    Coroutine coroutine;
    std::int64_t now = 0;
    std::int64_t deadline = 0;
    Channel* input = nullptr;
    explicit Side(std::size_t stack) : coroutine(stack) {}
  };

  void send(Channel& channel, std::int64_t now, std::uint8_t byte);
  std::optional<std::uint8_t> receive(Side& side, Channel& channel, std::int64_t deadline);
  void wait(Side& side, Channel* input, std::int64_t deadline);
  void wait_for_room(Side& side, const Channel& channel);
  std::int64_t wake_time(const Side& side) const;
  bool may_go_on(const Side& side, std::int64_t wake) const;
  void record(Direction direction, std::int64_t now, std::uint8_t sent, const Passage& passage);

  LineSettings settings_;
  std::vector<Fault> faults_;
  std::optional<qvemu::LineNoise> noise_;
  std::int64_t byte_us_;
  Channel to_device_{Direction::to_device};
  Channel to_host_{Direction::to_host};
  Side host_;
  Side device_;
  bool closing_ = false;
  bool abandoning_ = false;
  struct Burst {
    std::int64_t began;
    Direction direction;
    std::string bytes;
  };
  std::vector<Burst> bursts_;
  // The burst still open in each direction (an index into bursts_, or -1),
  // and when its last byte was sent.
  long open_burst_[2] = {-1, -1};
  std::int64_t last_sent_[2] = {0, 0};
};

}  // namespace sim
