#include "sim/virtual_line.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

// Each side's stack: pclink keeps its work buffers off the stack, so this is
// ample, and small enough to keep many lines' stacks warm in the cache.
constexpr std::size_t side_stack_size = 256 * 1024;

// A writer that runs this far ahead of the wire waits, as a full transmit
// buffer makes a real write wait.
constexpr long transmit_buffer_bytes = 4096;

// Bytes apart by more than this (in byte times) start a new line of the trace.
constexpr std::int64_t trace_gap_bytes = 3;

}  // namespace

VirtualLine::VirtualLine(const LineSettings& settings, std::vector<Fault> faults)
    : settings_(settings),
      faults_(std::move(faults)),
      byte_us_((settings.parity ? 11 : 10) * 1'000'000LL / settings.baud),
      host_(side_stack_size),
      device_(side_stack_size) {}

VirtualLine::VirtualLine(const LineSettings& settings, std::vector<Fault> faults,
                         const qvemu::NoiseSettings& noise, qvemu::Trace& trace)
    : VirtualLine(settings, std::move(faults)) {
  noise_.emplace(noise, trace);
}

VirtualLine::~VirtualLine() = default;

RunEnd VirtualLine::run(const std::function<void()>& host, const std::function<void()>& device) {
  host_.coroutine.start([&] {
    try {
      host();
    } catch (const Abandoned&) {
    }
  });
  device_.coroutine.start([&] {
    try {
      device();
    } catch (const qvemu::SessionClosed&) {
    } catch (const Abandoned&) {
    }
  });
  RunEnd end = RunEnd::finished;
  while (!host_.coroutine.finished()) {
    const std::int64_t host_wake = wake_time(host_);
    const std::int64_t device_wake = wake_time(device_);
    Side& next = host_wake <= device_wake ? host_ : device_;
    const std::int64_t wake = std::min(host_wake, device_wake);
    if (wake == never || wake > settings_.hang_after_us) {
      end = RunEnd::hung;
      abandoning_ = true;
      while (!host_.coroutine.finished()) host_.coroutine.resume();
      break;
    }
    next.now = std::max(next.now, wake);
    next.coroutine.resume();
  }
  closing_ = true;
  while (!device_.coroutine.finished()) device_.coroutine.resume();
  return end;
}

std::int64_t VirtualLine::wake_time(const Side& side) const {
  if (side.coroutine.finished()) return never;
  std::int64_t wake = side.deadline;
  if (side.input != nullptr && !side.input->queue.empty()) wake = std::min(wake, side.input->queue.front().at);
  return wake;
}

// A side goes on to its next moment at once when that is the arrival of a
// byte already on its way (whatever the other side does, it comes after
// that byte), or comes before anything the other side can send would
// arrive: the other acts at its own next moment at the earliest. So a side
// reads a whole unit on its own stack instead of switching at every byte.
bool VirtualLine::may_go_on(const Side& side, std::int64_t wake) const {
  if (wake > settings_.hang_after_us) return false;
  if (side.input != nullptr && !side.input->queue.empty() && side.input->queue.front().at == wake) return true;
  const std::int64_t other = wake_time(&side == &host_ ? device_ : host_);
  return other == never || wake < other + byte_us_;
}

void VirtualLine::wait(Side& side, Channel* input, std::int64_t deadline) {
  side.deadline = deadline;
  side.input = input;
  const std::int64_t wake = wake_time(side);
  if (may_go_on(side, wake)) {
    side.now = std::max(side.now, wake);
    side.input = nullptr;
    return;
  }
  side.coroutine.suspend();
  side.input = nullptr;
  if (&side == &device_ && closing_) throw qvemu::SessionClosed{};
  if (abandoning_) throw Abandoned{};
}

std::optional<std::uint8_t> VirtualLine::receive(Side& side, Channel& channel, std::int64_t deadline) {
  for (;;) {
    if (!channel.queue.empty() && channel.queue.front().at <= side.now) {
      const std::uint8_t byte = channel.queue.front().byte;
      channel.queue.pop_front();
      return byte;
    }
    if (side.now >= deadline) return std::nullopt;
    wait(side, &channel, deadline);
  }
}

void VirtualLine::send(Channel& channel, std::int64_t now, std::uint8_t byte) {
  const long index = channel.sent++;
  // Nearly every byte meets no fault: it goes straight on, with nothing to
  // build (a sweep sends millions of bytes).
  const bool struck = std::any_of(faults_.begin(), faults_.end(), [&](const Fault& fault) {
    return fault.direction == channel.direction && fault.index == index;
  });
  if (!struck && !noise_ && !settings_.record) {
    channel.free_at = std::max(now, channel.free_at) + byte_us_;
    channel.queue.push_back({channel.free_at, byte});
    return;
  }
  Passage passage = pass_byte(faults_, channel.direction, index, byte);
  if (noise_ && noise_->active()) {
    const std::vector<qvemu::NoisyStretch> stretches = noise_->pass(
        channel.direction == Direction::to_device ? qvemu::Direction::to_device : qvemu::Direction::to_host,
        passage.bytes);
    for (const qvemu::NoisyStretch& stretch : stretches) passage.pause_ms += stretch.pause_ms;
    passage.bytes = qvemu::joined(stretches);
  }
  if (settings_.record) record(channel.direction, now, byte, passage);
  std::int64_t start = std::max(now, channel.free_at) + passage.pause_ms * 1000LL;
  // A dropped byte still took its time on the wire.
  channel.free_at = start + byte_us_;
  for (std::uint8_t arrived : passage.bytes) {
    channel.free_at = start + byte_us_;
    channel.queue.push_back({channel.free_at, arrived});
    start = channel.free_at;
  }
}

void VirtualLine::wait_for_room(Side& side, const Channel& channel) {
  const std::int64_t room_at = channel.free_at - transmit_buffer_bytes * byte_us_;
  while (side.now < room_at) wait(side, nullptr, room_at);
}

std::optional<std::uint8_t> VirtualLine::read_byte(int timeout_ms, bool damage_echo) {
  if (closing_) throw qvemu::SessionClosed{};
  const std::int64_t deadline = timeout_ms < 0 ? never : device_.now + timeout_ms * 1000LL;
  const std::optional<std::uint8_t> byte = receive(device_, to_device_, deadline);
  if (byte && settings_.echo) {
    send(to_host_, device_.now, static_cast<std::uint8_t>(damage_echo ? *byte ^ 0x01 : *byte));
  }
  return byte;
}

void VirtualLine::write(const qvemu::Bytes& bytes) {
  if (closing_) throw qvemu::SessionClosed{};
  for (std::uint8_t byte : bytes) send(to_host_, device_.now, byte);
}

std::int64_t VirtualLine::now_us() {
  return device_.now;
}

std::int64_t VirtualLine::host_now_us() const {
  return host_.now;
}

std::optional<std::uint8_t> VirtualLine::host_read(std::int64_t timeout_us) {
  return receive(host_, to_host_, host_.now + std::max<std::int64_t>(timeout_us, 0));
}

void VirtualLine::host_write(std::uint8_t byte) {
  send(to_device_, host_.now, byte);
  wait_for_room(host_, to_device_);
}

void VirtualLine::host_sleep(std::int64_t us) {
  const std::int64_t until = host_.now + std::max<std::int64_t>(us, 0);
  while (host_.now < until) wait(host_, nullptr, until);
}

std::int64_t VirtualLine::elapsed_us() const {
  return std::max(host_.now, device_.now);
}

long VirtualLine::bytes_sent(Direction direction) const {
  return direction == Direction::to_device ? to_device_.sent : to_host_.sent;
}

void VirtualLine::record(Direction direction, std::int64_t now, std::uint8_t sent, const Passage& passage) {
  const int way = direction == Direction::to_device ? 0 : 1;
  if (open_burst_[way] < 0 || now > last_sent_[way] + trace_gap_bytes * byte_us_) {
    open_burst_[way] = static_cast<long>(bursts_.size());
    bursts_.push_back({now, direction, {}});
    // What the other side sends after this is an answer: a burst of its own.
    open_burst_[1 - way] = -1;
  }
  last_sent_[way] = now;
  std::string& text = bursts_[static_cast<std::size_t>(open_burst_[way])].bytes;
  char hex[8];
  std::snprintf(hex, sizeof hex, " %02X", sent);
  text += hex;
  if (passage.bytes.size() == 1 && passage.bytes[0] == sent && passage.pause_ms == 0) return;
  text += "[";
  if (passage.pause_ms > 0) text += "after " + std::to_string(passage.pause_ms) + " ms:";
  if (passage.bytes.empty()) text += "lost";
  for (std::size_t i = 0; i < passage.bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, "%s%02X", i == 0 ? "" : " ", passage.bytes[i]);
    text += hex;
  }
  text += "]";
}

std::string VirtualLine::trace() const {
  std::vector<Burst> ordered = bursts_;
  std::stable_sort(ordered.begin(), ordered.end(), [](const Burst& a, const Burst& b) { return a.began < b.began; });
  std::string text;
  for (const Burst& burst : ordered) {
    char head[40];
    std::snprintf(head, sizeof head, "%11.6f %s", static_cast<double>(burst.began) / 1e6,
                  burst.direction == Direction::to_device ? "H>" : "<D");
    text += head + burst.bytes + "\n";
  }
  return text;
}

}  // namespace sim
