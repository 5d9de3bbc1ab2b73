// The port the library reads and writes in the unit tests
// (pclink/platform/port.h), played from the test's script on a virtual
// clock: reads take what the script queued, writes are recorded and may
// bring the scripted answers. See support/scripted_port.h.
#include "support/scripted_port_script.h"

#include <cerrno>

#include "pclink/platform/process.h"

using namespace scripted_port_script;

namespace {

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
