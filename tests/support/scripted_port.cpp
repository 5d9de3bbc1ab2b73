#include "scripted_port.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

#include "pclink/packet.h"
#include "pclink/platform/process.h"
#include "pclink/relay.h"
#include "pclink/run_endings.h"
#include "pclink/serial_port.h"
#include "pclink/serial_port_bytes.h"

namespace {

struct Incoming {
  enum class Kind { byte, timeout, failure, gap } kind;
  std::uint8_t byte;
  int error;  // for a gap: the milliseconds of silence still to pass
  bool damaged = false;  // a byte that came with a parity or framing error
};

struct Script {
  std::deque<Incoming> incoming;
  bool loopback = false;
  bool paced = true;
  std::size_t damaged_echo_index = static_cast<std::size_t>(-1);
  std::uint8_t damaged_echo_flip = 0;
  std::function<void()> silence_hook;
  std::deque<scripted_port::Bytes> answers;
  std::function<void(std::uint8_t)> hook;
  bool refuse_open = false;
  platform::OpenResult refusal{};
  int write_error = 0;
  bool open = false;
  int opens = 0;
  std::string name;
  platform::LineSettings settings{0, false};
  scripted_port::Bytes written;
  std::vector<scripted_port::Bytes> units;
  scripted_port::Bytes unit;  // the unit being written
  long long elapsed_ms = 0;
  std::vector<int> pauses;
  int reads = 0;
  std::vector<scripted_port::Bytes> writes;
};

Script script;

void queue_bytes(const scripted_port::Bytes& bytes) {
  for (std::uint8_t b : bytes) {
    script.incoming.push_back({Incoming::Kind::byte, b, 0});
  }
}

// A unit is complete after a lone control byte, or after SOH, four header
// bytes, the payload its length announces and two checksum bytes.
bool unit_complete(const scripted_port::Bytes& unit) {
  if (unit[0] != 0x01) {
    return true;
  }
  if (unit.size() < 5) {
    return false;
  }
  std::size_t length = unit[3] + 256u * unit[4];
  return unit.size() == 5 + length + 2;
}

void track_unit(std::uint8_t byte) {
  script.unit.push_back(byte);
  if (!unit_complete(script.unit)) {
    return;
  }
  script.units.push_back(script.unit);
  // The device answers once the unit has reached it: the line carries it in
  // 10 bit times a byte (11 with parity), rounded up to the millisecond.
  const int bits = script.settings.odd_parity ? 11 : 10;
  const long long baud = script.settings.baud > 0 ? script.settings.baud : 9600;
  const long long line_ms = (static_cast<long long>(script.unit.size()) * bits * 1000 + baud - 1) / baud;
  script.unit.clear();
  if (!script.answers.empty()) {
    if (!script.answers.front().empty()) {
      script.incoming.push_back({Incoming::Kind::gap, 0, static_cast<int>(line_ms)});
    }
    queue_bytes(script.answers.front());
    script.answers.pop_front();
  }
}

}  // namespace

namespace platform {

// Its line carries bytes at the rate the host set.
bool line_keeps_pace(const char*) {
  return script.paced;
}

OpenResult open_port(const char* name, const LineSettings& settings) {
  ++script.opens;
  script.name = name;
  if (script.refuse_open) {
    return script.refusal;
  }
  script.settings = settings;
  script.open = true;
  return OpenResult{};  // failure none
}

// The silence a read may still wait through: the rest of its time-out, and
// no more than its gap.
long long silence_allowed(const ReadLimits& limits, long long waited) {
  long long left = limits.timeout_ms - waited;
  if (limits.gap_ms > 0 && limits.gap_ms < left) left = limits.gap_ms;
  return left < 0 ? 0 : left;
}

ReadResult read_bytes(std::uint8_t* buffer, std::uint8_t* damage, int capacity, const ReadLimits& limits) {
  ++script.reads;
  if (!script.open) {
    return {Transfer::failed, 0, EBADF};
  }
  int got = 0;
  long long waited = 0;
  for (;;) {
    const bool enough = got >= limits.wanted;
    // Once the bytes wanted are there, whatever else has already arrived
    // comes with them, but nothing is waited for.
    if (got == capacity || (enough && (script.incoming.empty() ||
                                       script.incoming.front().kind != Incoming::Kind::byte))) {
      return {Transfer::done, got, 0};
    }
    const long long allowed = silence_allowed(limits, waited);
    if (script.incoming.empty()) {
      script.elapsed_ms += allowed;
      if (script.silence_hook) {
        script.silence_hook();
      }
      return {Transfer::timed_out, got, 0};
    }
    Incoming& next = script.incoming.front();
    switch (next.kind) {
      case Incoming::Kind::byte:
        buffer[got] = next.byte;
        damage[got++] = next.damaged ? 1 : 0;
        script.incoming.pop_front();
        break;
      case Incoming::Kind::gap:
        // A gap shorter than what the read may still wait passes while it
        // waits; a longer one makes it time out and is shortened by the wait.
        if (next.error > allowed) {
          next.error -= static_cast<int>(allowed);
          script.elapsed_ms += allowed;
          return {Transfer::timed_out, got, 0};
        }
        script.elapsed_ms += next.error;
        waited += next.error;
        script.incoming.pop_front();
        break;
      case Incoming::Kind::timeout:
        script.elapsed_ms += allowed;
        script.incoming.pop_front();
        return {Transfer::timed_out, got, 0};
      case Incoming::Kind::failure: {
        const int error = next.error;
        script.incoming.pop_front();
        return {Transfer::failed, got, error};
      }
    }
  }
}

WriteResult write_bytes(const std::uint8_t* bytes, int count, int) {
  if (!script.open) {
    return {Transfer::failed, EBADF};
  }
  if (script.write_error != 0) {
    return {Transfer::failed, script.write_error};
  }
  script.writes.emplace_back(bytes, bytes + count);
  for (int i = 0; i < count; ++i) {
    const std::uint8_t byte = bytes[i];
    script.written.push_back(byte);
    if (script.loopback) {
      std::uint8_t flip = script.written.size() - 1 == script.damaged_echo_index ? script.damaged_echo_flip : 0;
      script.incoming.push_back({Incoming::Kind::byte, static_cast<std::uint8_t>(byte ^ flip), 0});
    }
    track_unit(byte);
    if (script.hook) {
      script.hook(byte);
    }
  }
  return {Transfer::done, 0};
}

void close_port() {
  script.open = false;
}

void sleep_ms(int milliseconds) {
  script.pauses.push_back(milliseconds);
  script.elapsed_ms += milliseconds;
}

}  // namespace platform

namespace scripted_port {

void reset() {
  reset_link_state();
  reset_relay_state();
  reset_packet_state();
  clear_ending_note();
  script = Script{};
}

void queue_incoming(const Bytes& bytes) {
  queue_bytes(bytes);
}

void queue_damaged(std::uint8_t byte) {
  script.incoming.push_back({Incoming::Kind::byte, byte, 0, true});
}

void queue_timeout() {
  script.incoming.push_back({Incoming::Kind::timeout, 0, 0});
}

void queue_gap(int milliseconds) {
  script.incoming.push_back({Incoming::Kind::gap, 0, milliseconds});
}

void queue_read_failure(int error) {
  script.incoming.push_back({Incoming::Kind::failure, 0, error});
}

void set_paced(bool on) {
  script.paced = on;
}

void set_loopback(bool on) {
  script.loopback = on;
}

void damage_echo(std::size_t index, std::uint8_t flip) {
  script.damaged_echo_index = index;
  script.damaged_echo_flip = flip;
}

void on_silence(std::function<void()> hook) {
  script.silence_hook = std::move(hook);
}

void answer_units(const std::vector<Bytes>& answers) {
  script.answers.assign(answers.begin(), answers.end());
}

void on_write(std::function<void(std::uint8_t)> hook) {
  script.hook = std::move(hook);
}

void refuse_open(bool refuse, platform::OpenFailure why, const char* group) {
  script.refuse_open = refuse;
  script.refusal = platform::OpenResult{};
  script.refusal.failure = why;
  script.refusal.error = why == platform::OpenFailure::other ? 5 : 0;
  std::snprintf(script.refusal.group, sizeof script.refusal.group, "%s", group);
}

void fail_writes(int error) {
  script.write_error = error;
}

const Bytes& written() {
  return script.written;
}

const std::vector<Bytes>& written_units() {
  return script.units;
}

const std::vector<Bytes>& writes() {
  return script.writes;
}

bool is_open() {
  return script.open;
}

const std::string& opened_name() {
  return script.name;
}

platform::LineSettings opened_settings() {
  return script.settings;
}

int open_count() {
  return script.opens;
}

long long elapsed_ms() {
  return script.elapsed_ms;
}

const std::vector<int>& pauses_ms() {
  return script.pauses;
}

int read_count() {
  return script.reads;
}

std::size_t incoming_left() {
  std::size_t bytes = 0;
  for (const Incoming& next : script.incoming) bytes += next.kind == Incoming::Kind::byte;
  return bytes + static_cast<std::size_t>(received_count());
}

Bytes packet_bytes(int number, const Bytes& payload) {
  std::uint8_t n = static_cast<std::uint8_t>(number);
  std::size_t length = payload.size();
  Bytes bytes = {0x01, n, static_cast<std::uint8_t>(~n), static_cast<std::uint8_t>(length & 0xFF),
                 static_cast<std::uint8_t>(length >> 8)};
  unsigned sum = 0;
  for (std::uint8_t b : payload) {
    bytes.push_back(b);
    sum += b;
  }
  bytes.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>((sum >> 8) & 0xFF));
  return bytes;
}

Bytes packet_bytes(int number, std::string_view payload) {
  return packet_bytes(number, bytes_of(payload));
}

Bytes bytes_of(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace scripted_port
